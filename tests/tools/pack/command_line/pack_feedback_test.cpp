// What osvari-pack tells the user: sizes, the summary line and the progress line.
#include "tools/pack/command_line/pack_feedback.h"

#include <gtest/gtest.h>

#include <sstream>

namespace osvari::pack {
namespace {

TEST(PackFeedback, WritesSizesInBinaryUnitsWithOneDecimal) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},          {1, "1 byte"},           {1023, "1023 bytes"}, {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},       {1048575, "1024.0 KiB"}, {1048576, "1.0 MiB"}, {342255206, "326.4 MiB"},
      {5ULL << 30, "5.0 GiB"},
  };
  for (const auto& test : cases) EXPECT_EQ(human_size(test.bytes), test.text) << test.bytes;
}

TEST(PackFeedback, SummarisesEntriesSizesRatioAndTime) {
  const struct {
    PackFigures figures;
    const char* line;
  } cases[] = {
      {{.entries = 1900, .input_bytes = 342255206, .attached_data_bytes = 80740352, .executable_bytes = {}, .seconds = 21.26},
       "1900 entries, 326.4 MiB in, 77.0 MiB compressed (23.6%), 21.3 s"},
      {{.entries = 1, .input_bytes = 0, .attached_data_bytes = 30, .executable_bytes = {}, .seconds = 0},
       "1 entry, 0 bytes in, 30 bytes compressed (0.0%), 0.0 s"},
      // The launcher counts in the executable's size, never in the ratio.
      {{.entries = 2, .input_bytes = 10240, .attached_data_bytes = 1024, .executable_bytes = 280064, .seconds = 0.04},
       "2 entries, 10.0 KiB in, 1.0 KiB compressed (10.0%), executable 273.5 KiB, 0.0 s"},
  };
  for (const auto& test : cases) EXPECT_EQ(summary_line(test.figures), test.line);
}

TEST(PackFeedback, ShowsProgressOnlyOnATerminalAndNothingWhenQuiet) {
  const struct {
    bool terminal;
    bool quiet;
    bool progress;
    bool summary;
  } cases[] = {
      {true, false, true, true}, {false, false, false, true}, {true, true, false, false}, {false, true, false, false}};
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::Message() << "terminal " << test.terminal << ", quiet " << test.quiet);
    std::ostringstream out;
    PackFeedback feedback(out, test.terminal, test.quiet, 2, 4096);
    feedback.input_read(1024);
    feedback.input_read(1);  // the same percent: not written again
    feedback.input_read(3071);
    feedback.output_written(100);
    feedback.finish();
    const std::string text = out.str();
    const std::string progress = "\rosvari-pack: packing 25% of 4.0 KiB\rosvari-pack: packing 100% of 4.0 KiB\r\033[K";
    EXPECT_EQ(text.starts_with(progress), test.progress) << text;
    const std::string summary = "osvari-pack: 2 entries, 4.0 KiB in, 100 bytes compressed (2.4%), ";
    EXPECT_EQ(text.find(summary) != std::string::npos, test.summary) << text;
    if (test.summary) {
      EXPECT_TRUE(text.ends_with(" s\n"));
    }
    if (!test.progress) {
      EXPECT_EQ(text.find('\r'), std::string::npos);
    }
    if (!test.progress && !test.summary) {
      EXPECT_EQ(text, "");
    }
  }
}

TEST(PackFeedback, ClearsTheProgressLineWhenPackingStopsEarly) {
  std::ostringstream out;
  {
    PackFeedback feedback(out, true, false, 1, 200);
    feedback.input_read(100);
  }
  EXPECT_EQ(out.str(), "\rosvari-pack: packing 50% of 200 bytes\r\033[K");
}

}  // namespace
}  // namespace osvari::pack

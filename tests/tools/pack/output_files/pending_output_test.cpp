// An output file written beside its target: whatever already has the temporary name (another's
// file, a link to one, a dangling link) is never written through, changed or removed.
#include "tools/pack/output_files/pending_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/tools/pack/support/pack_test_support.h"
#include "tools/pack/pack_error.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

fs::path first_temporary(const fs::path& target) {
  fs::path name = target;
  name += ".osvari-pack-partial";
  return name;
}

struct PlantedCase {
  const char* name;
  // Plants something at `at`; `canary` is a file outside the output's folder that must stay as it is.
  std::function<void(const fs::path& at, const fs::path& canary)> plant;
};

class PlantedAtTheTemporaryName : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedAtTheTemporaryName, IsLeftAsItIsWhileTheOutputIsWrittenBesideIt) {
  TemporaryFolder folder;
  const fs::path canary = folder / "outside/canary.txt";
  write_file(canary, "canary");
  const fs::path target = folder / "out/app.bin";
  fs::create_directories(target.parent_path());
  const fs::path planted = first_temporary(target);
  GetParam().plant(planted, canary);
  const auto before = fs::symlink_status(planted).type();
  const fs::path pointed_to = fs::is_symlink(planted) ? fs::read_symlink(planted) : fs::path();

  {
    pack::PendingOutput output(target);
    EXPECT_NE(output.temporary_path(), planted);
    output.write("the packed bytes");
    output.commit();
  }

  EXPECT_EQ(read_file(target), "the packed bytes");
  EXPECT_EQ(read_file(canary), "canary");
  EXPECT_EQ(fs::symlink_status(planted).type(), before);
  if (fs::is_symlink(planted)) {
    EXPECT_EQ(fs::read_symlink(planted), pointed_to);
  }
  EXPECT_FALSE(fs::exists(folder / "outside/never.txt"));  // a dangling link's target is never made
  // Only the target and what was planted remain beside it.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(target.parent_path())) ++entries;
  EXPECT_EQ(entries, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Things, PlantedAtTheTemporaryName,
    ::testing::Values(
        PlantedCase{"link_to_another_file",
                    [](const fs::path& at, const fs::path& canary) { fs::create_symlink(canary, at); }},
        PlantedCase{"dangling_link",
                    [](const fs::path& at, const fs::path& canary) {
                      fs::create_symlink(canary.parent_path() / "never.txt", at);
                    }},
        PlantedCase{"another_programs_file",
                    [](const fs::path& at, const fs::path&) { write_file(at, "someone else's"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PendingOutput, AnotherProgramsFileAtTheTemporaryNameKeepsItsContents) {
  TemporaryFolder folder;
  const fs::path target = folder / "app.bin";
  write_file(first_temporary(target), "someone else's");
  {
    pack::PendingOutput output(target);
    output.write("ours");
    output.commit();
  }
  EXPECT_EQ(read_file(first_temporary(target)), "someone else's");
  EXPECT_EQ(read_file(target), "ours");
}

TEST(PendingOutput, AnUnfinishedOutputRemovesOnlyItsOwnTemporaryFile) {
  TemporaryFolder folder;
  const fs::path target = folder / "app.bin";
  write_file(first_temporary(target), "someone else's");
  fs::path temporary;
  {
    pack::PendingOutput output(target);
    temporary = output.temporary_path();
    output.write("half");
    EXPECT_TRUE(fs::exists(temporary));
  }
  EXPECT_FALSE(fs::exists(temporary));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(read_file(first_temporary(target)), "someone else's");
}

TEST(PendingOutput, ALinkAtTheTargetIsReplacedNotWrittenThrough) {
  TemporaryFolder folder;
  const fs::path canary = folder / "outside/canary.txt";
  write_file(canary, "canary");
  const fs::path target = folder / "app.bin";
  fs::create_symlink(canary, target);
  {
    pack::PendingOutput output(target);
    output.write("ours");
    output.commit();
  }
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(read_file(target), "ours");
  EXPECT_EQ(read_file(canary), "canary");
}

TEST(PendingOutput, AMissingFolderIsReportedWithTheTarget) {
  TemporaryFolder folder;
  const fs::path target = folder / "no/such/folder/app.bin";
  try {
    pack::PendingOutput output(target);
    FAIL() << "created " << output.temporary_path();
  } catch (const pack::PackError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot create "), std::string::npos) << error.what();
  }
  EXPECT_FALSE(fs::exists(folder / "no"));
}

}  // namespace
}  // namespace osvari::testing

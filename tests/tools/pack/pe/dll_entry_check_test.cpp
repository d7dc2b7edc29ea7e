#include "tools/pack/pe/dll_entry_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::pack {
namespace {

using testing::build_pe_image;
using testing::PeImageSpec;
using testing::put_u16;
using testing::put_u32;
namespace layout = testing::pe_layout;

struct PeCase {
  const char* description;
  std::function<std::string()> image;
  DllEntryCheck expected;
};

std::string damaged(std::function<void(std::string&)> change) {
  std::string image = build_pe_image();
  change(image);
  return image;
}

TEST(DllEntryCheck, ClassifiesImages) {
  const PeCase cases[] = {
      {"a DLL exporting run_code", [] { return build_pe_image(); }, DllEntryCheck::dll_with_run_code},
      {"run_code among other exports",
       [] { return build_pe_image({.export_names = {"alpha", "run_code", "zeta"}}); }, DllEntryCheck::dll_with_run_code},
      {"empty file", [] { return std::string(); }, DllEntryCheck::no_mz_header},
      {"one byte", [] { return std::string("M"); }, DllEntryCheck::no_mz_header},
      {"text", [] { return std::string("not a library at all"); }, DllEntryCheck::no_mz_header},
      {"lower-case mz", [] { return damaged([](std::string& i) { i[0] = 'm'; }); }, DllEntryCheck::no_mz_header},
      {"bare MZ", [] { return std::string("MZ"); }, DllEntryCheck::damaged},
      {"wrong PE signature", [] { return damaged([](std::string& i) { i[layout::pe_signature + 1] = 'X'; }); },
       DllEntryCheck::no_pe_header},
      {"PE header pointer past the end",
       [] { return damaged([](std::string& i) { put_u32(i, layout::pe_header_pointer, 0xFFFFFFF0); }); },
       DllEntryCheck::no_pe_header},
      {"32-bit machine", [] { return build_pe_image({.machine = 0x014C}); }, DllEntryCheck::not_x86_64},
      {"ARM64 machine", [] { return build_pe_image({.machine = 0xAA64}); }, DllEntryCheck::not_x86_64},
      {"executable, not DLL", [] { return build_pe_image({.characteristics = 0x0022}); }, DllEntryCheck::not_a_dll},
      {"no export directory", [] { return build_pe_image({.export_directory = false}); },
       DllEntryCheck::no_export_directory},
      {"exports without run_code", [] { return build_pe_image({.export_names = {"run", "run_codes", "Run_code"}}); },
       DllEntryCheck::no_run_code_export},
      {"no exports by name", [] { return build_pe_image({.export_names = {}}); }, DllEntryCheck::no_run_code_export},
      {"cut inside the COFF header", [] { return build_pe_image().substr(0, layout::coff_header + 10); },
       DllEntryCheck::damaged},
      {"cut inside the section table", [] { return build_pe_image().substr(0, layout::section_table + 20); },
       DllEntryCheck::damaged},
      {"cut inside the export section", [] { return build_pe_image().substr(0, layout::export_section + 30); },
       DllEntryCheck::damaged},
      {"PE32 optional header",
       [] { return damaged([](std::string& i) { put_u16(i, layout::optional_header, 0x10B); }); },
       DllEntryCheck::damaged},
      {"export directory outside every section",
       [] { return damaged([](std::string& i) { put_u32(i, layout::export_directory_entry, 0x9000); }); },
       DllEntryCheck::damaged},
      {"section raw data past the end of the file",
       [] { return damaged([](std::string& i) { put_u32(i, layout::section_raw_offset, 0x7FFFFFFF); }); },
       DllEntryCheck::damaged},
      {"huge section count",
       [] { return damaged([](std::string& i) { put_u16(i, layout::section_count, 0xFFFF); }); }, DllEntryCheck::damaged},
      {"huge export name count",
       [] { return damaged([](std::string& i) { put_u32(i, layout::export_name_count, 0xFFFFFFFF); }); },
       DllEntryCheck::damaged},
      {"name table outside every section",
       [] { return damaged([](std::string& i) { put_u32(i, layout::export_names_address, 0x00FFFFF0); }); },
       DllEntryCheck::damaged},
  };
  for (const PeCase& test : cases) {
    EXPECT_EQ(check_dll_entry(test.image()), test.expected) << test.description;
  }
}

TEST(DllEntryCheck, NamePointerOutsideTheFileIsDamage) {
  std::string image = build_pe_image({.export_names = {"first"}});
  // The name table is the section's own offset 44 for one export (directory 40, one function).
  put_u32(image, layout::export_section + 44, 0x7FFF0000);
  EXPECT_EQ(check_dll_entry(image), DllEntryCheck::damaged);
}

TEST(DllEntryCheck, RefusesEveryTruncatedCopy) {
  const std::string image = build_pe_image({.export_names = {"a", "b", "run_code"}});
  ASSERT_EQ(check_dll_entry(image), DllEntryCheck::dll_with_run_code);
  for (std::size_t length = 0; length < image.size(); ++length) {
    EXPECT_NE(check_dll_entry(std::string_view(image.data(), length)), DllEntryCheck::dll_with_run_code)
        << "cut to " << length << " bytes";
  }
}

TEST(DllEntryCheck, EveryFailureHasADescription) {
  EXPECT_TRUE(dll_entry_check_description(DllEntryCheck::dll_with_run_code).empty());
  for (DllEntryCheck result : {DllEntryCheck::no_mz_header, DllEntryCheck::no_pe_header, DllEntryCheck::not_x86_64, DllEntryCheck::not_a_dll,
                         DllEntryCheck::damaged, DllEntryCheck::no_export_directory, DllEntryCheck::no_run_code_export}) {
    EXPECT_FALSE(dll_entry_check_description(result).empty());
  }
}

}  // namespace
}  // namespace osvari::pack

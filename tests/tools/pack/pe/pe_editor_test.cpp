#include "tools/pack/pe/pe_editor.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/executable_image_builder.h"

namespace osvari::pack {
namespace {

using testing::build_executable_image;
using testing::ExecutableSpec;
using testing::image_facts;
using testing::resources_of;
namespace layout = testing::executable_layout;

ResourceTable launcher_resources() {
  ResourceTable table;
  table.add({resource_id(resource_type_manifest), resource_id(1), resource_id(language_english_us), "<assembly/>", 0});
  table.add({resource_id(resource_type_version), resource_id(1), resource_id(language_english_us), "version", 0});
  table.add({resource_id(resource_type_rcdata), resource_id(27), resource_id(0x407), "old attached data", 0});
  table.add({resource_id(resource_type_rcdata), resource_id(27), resource_id(0x409), "another old copy", 0});
  return table;
}

// A symbol table of two 18-byte records and its string table, as an unstripped link leaves them.
const std::string symbols = std::string(36, 'S') + std::string("\x08\0\0\0abc\0", 8);

struct LauncherCase {
  const char* description;
  ExecutableSpec spec;
  bool had_resources;
  std::string kept_after_sections;  // what must follow the last section afterwards
};

class WrittenLauncher : public ::testing::TestWithParam<LauncherCase> {};

TEST_P(WrittenLauncher, CarriesTheNewResourceAndKeepsTheRest) {
  const LauncherCase& test = GetParam();
  const std::string original = build_executable_image(test.spec);
  PeEditor executable(original);
  EXPECT_EQ(executable.has_signature(), !test.spec.certificate.empty());
  const std::string attached(100000, 'K');
  executable.resources().replace(resource_id(resource_type_rcdata), resource_id(27), attached, language_neutral);
  const std::string written = executable.write();

  const PeEditor reread(written);
  const auto found = reread.resources().find(resource_id(resource_type_rcdata), resource_id(27));
  ASSERT_EQ(found.size(), 1u) << "one language left";
  EXPECT_TRUE(found[0]->data == attached);
  EXPECT_EQ(reread.resources().find(resource_id(resource_type_manifest), resource_id(1)).size(),
            test.had_resources ? 1u : 0u);

  const testing::ImageFacts facts = image_facts(written);
  EXPECT_EQ(facts.size_of_image, facts.last_section_end_in_memory);
  EXPECT_EQ(facts.checksum, pe_checksum(written, layout::optional_header + 64));
  EXPECT_EQ(facts.certificate_offset, 0u);
  EXPECT_EQ(facts.certificate_size, 0u);
  EXPECT_EQ(facts.last_section_end_in_file % facts.file_alignment, 0u);
  EXPECT_EQ(facts.sections_named_rsrc, 1) << "tools that look for .rsrc by name must find the new one";
  // No stale copy of the launcher's resources stays readable, only the new section's.
  EXPECT_EQ(written.find("old attached data"), std::string::npos);
  EXPECT_EQ(written.find("another old copy"), std::string::npos);
  const std::size_t manifest = written.find("<assembly/>");
  EXPECT_EQ(manifest != std::string::npos, test.had_resources);
  if (manifest != std::string::npos) {
    EXPECT_EQ(written.find("<assembly/>", manifest + 1), std::string::npos);
  }
  EXPECT_EQ(written.size(), facts.last_section_end_in_file + test.kept_after_sections.size())
      << "the signature stays out";
  EXPECT_EQ(written.substr(facts.last_section_end_in_file), test.kept_after_sections);
  if (test.spec.symbols_in_overlay) {
    EXPECT_EQ(written.substr(facts.symbol_table, symbols.size()), symbols) << "the symbol table pointer follows";
    EXPECT_EQ(facts.symbol_count, 2u);
  } else {
    EXPECT_EQ(facts.symbol_table, 0u);
  }
  // The resources are the last thing in memory, and the code is where it was.
  const std::uint32_t resource_end = facts.resource_rva + static_cast<std::uint32_t>(attached.size());
  EXPECT_GT(resource_end, facts.size_of_image - layout::section_alignment);
  EXPECT_EQ(written.substr(0x400, 0x345), original.substr(0x400, 0x345));

  // Packing the result again replaces the resources in place: same layout, same bytes.
  PeEditor again(written);
  again.resources().replace(resource_id(resource_type_rcdata), resource_id(27), attached, language_neutral);
  const std::string rewritten = again.write();
  EXPECT_EQ(image_facts(rewritten).section_count, facts.section_count);
  EXPECT_TRUE(rewritten == written) << "a second pass changed the bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Launchers, WrittenLauncher,
    ::testing::Values(
        LauncherCase{"no_resources", {}, false, ""},
        LauncherCase{"resources_last", {.resources = resources_of(launcher_resources())}, true, ""},
        LauncherCase{"resources_before_relocations",
                     {.resources = resources_of(launcher_resources()), .relocations_after_resources = true},
                     true,
                     ""},
        LauncherCase{"symbols_after_the_sections",
                     {.resources = resources_of(launcher_resources()),
                      .relocations_after_resources = true,
                      .overlay = symbols,
                      .symbols_in_overlay = true},
                     true,
                     symbols},
        LauncherCase{"signed",
                     {.resources = resources_of(launcher_resources()), .certificate = std::string(1000, 'C')},
                     true,
                     ""},
        LauncherCase{"signed_with_data_after_the_sections",
                     {.resources = resources_of(launcher_resources()),
                      .relocations_after_resources = true,
                      .overlay = "appended",
                      .certificate = std::string(1000, 'C')},
                     true,
                     "appended"}),
    [](const auto& info) { return std::string(info.param.description); });

TEST(PeEditor, SetsTheSubsystem) {
  for (const std::uint16_t subsystem : {subsystem_windows_console, subsystem_windows_gui}) {
    PeEditor executable(build_executable_image({.subsystem = static_cast<std::uint16_t>(5 - subsystem)}));
    executable.set_subsystem(subsystem);
    EXPECT_EQ(image_facts(executable.write()).subsystem, subsystem);
  }
}

TEST(PeEditor, RefusesWhatItCannotEdit) {
  const std::string good = build_executable_image({.resources = resources_of(launcher_resources())});
  const struct {
    const char* description;
    std::string image;
    const char* message;
  } cases[] = {
      {"text", "just some text", "no MZ header"},
      {"bare MZ", "MZ", "cut short"},
      {"no PE signature", std::string(good).replace(layout::coff_header - 4, 2, "NE"), "no PE header"},
      {"a 32-bit image", build_executable_image({.magic = 0x10B}), "32-bit (PE32)"},
      {"another machine", build_executable_image({.machine = 0xAA64}), "not built for x86-64"},
      {"cut inside a section", good.substr(0, good.size() - 0x100), "cut short"},
      {"cut inside the headers", good.substr(0, layout::optional_header + 40), "cut short"},
      {"headers longer than the file", good.substr(0, 0x300), "cut short"},
      {"signature beyond the end", build_executable_image({.certificate = std::string(1000, 'C')}).substr(0, 0xB00),
       "signature lies beyond"},
      {"damaged resources",
       build_executable_image({.resources = [](std::uint32_t) { return std::string(20, '\xFF'); }}), "cut short"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    try {
      PeEditor(test.image).write();
      ADD_FAILURE() << "accepted";
    } catch (const ImageFormatError& error) {
      EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
  }
}

TEST(PeEditor, RefusesWhenNoSectionHeaderFitsBeforeTheFirstSection) {
  // Three section headers end at 0x200, where the headers and the first section's data meet.
  PeEditor executable(build_executable_image({.resources = resources_of(launcher_resources()),
                                                  .relocations_after_resources = true,
                                                  .size_of_headers = 0x200}));
  try {
    executable.write();
    ADD_FAILURE() << "accepted";
  } catch (const ImageFormatError& error) {
    EXPECT_STREQ(error.what(), "has no room for another section header");
  }
}

TEST(PeEditor, ComputesTheKnownChecksum) {
  // Words 0x0001 and 0xFFFF fold to 1; the checksum field is skipped; the length is added.
  std::string image(72, '\0');
  image[0] = 1;
  image[2] = '\xFF';
  image[3] = '\xFF';
  image[64] = '\x55';
  EXPECT_EQ(pe_checksum(image, 64), 1u + 72u);
}

}  // namespace
}  // namespace osvari::pack

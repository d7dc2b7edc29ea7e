#include "tools/pack/pe/pe_resources.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::pack {
namespace {

using testing::put_u16;
using testing::put_u32;
using testing::read_u16;
using testing::read_u32;

constexpr std::uint32_t section_rva = 0x5000;

ResourceKey named(std::u16string text) { return ResourceKey{0, std::move(text)}; }

// Reads a section written for section_rva, with data addresses inside that section.
ResourceTable read_section(std::string_view section) {
  return read_resource_directory(
      section, [section](std::uint32_t rva, std::uint32_t size) -> std::optional<std::string_view> {
        if (rva < section_rva || rva - section_rva > section.size() || size > section.size() - (rva - section_rva)) {
          return std::nullopt;
        }
        return section.substr(rva - section_rva, size);
      },
      section.size());
}

ResourceTable sample_table() {
  ResourceTable table;
  table.add({resource_id(resource_type_manifest), resource_id(1), resource_id(language_english_us), "<assembly/>", 0});
  table.add({resource_id(resource_type_rcdata), resource_id(27), resource_id(language_neutral), "", 0});
  table.add({resource_id(resource_type_rcdata), resource_id(5), resource_id(0x407), "german", 1252});
  table.add({resource_id(resource_type_rcdata), resource_id(5), resource_id(0x409), "english!", 1252});
  table.add({named(u"CUSTOM"), named(u"second"), resource_id(0), "2", 0});
  table.add({named(u"CUSTOM"), named(u"First"), resource_id(0), "one", 0});
  table.add({named(u"CUSTOM"), resource_id(7), resource_id(0), "seven", 0});
  return table;
}

bool same(const Resource& a, const Resource& b) {
  return a.type == b.type && a.name == b.name && a.language == b.language && a.data == b.data &&
         a.code_page == b.code_page;
}

TEST(PeResources, RoundTripsNamesNumbersLanguagesAndEmptyData) {
  const ResourceTable table = sample_table();
  const std::string section = write_resource_section(table, section_rva);
  const ResourceTable back = read_section(section);
  ASSERT_EQ(back.resources().size(), table.resources().size());
  for (std::size_t i = 0; i < table.resources().size(); ++i) {
    EXPECT_TRUE(same(back.resources()[i], table.resources()[i])) << "resource " << i;
  }
}

TEST(PeResources, WritesNamedEntriesFirstSortedAndDataAlignedTo8) {
  const std::string section = write_resource_section(sample_table(), section_rva);
  // Root: one named type ("CUSTOM") before the numbered ones 10 and 24.
  EXPECT_EQ(read_u16(section, 12), 1);
  EXPECT_EQ(read_u16(section, 14), 2);
  EXPECT_NE(read_u32(section, 16) & 0x80000000, 0u);
  EXPECT_EQ(read_u32(section, 24), resource_type_rcdata);
  EXPECT_EQ(read_u32(section, 32), resource_type_manifest);
  // CUSTOM's names: "First" before "second" (case does not count), then the number 7.
  const std::size_t custom = read_u32(section, 20) & 0x7FFFFFFF;
  EXPECT_EQ(read_u16(section, custom + 12), 2);
  EXPECT_EQ(read_u16(section, custom + 14), 1);
  const std::size_t first_name = read_u32(section, custom + 16) & 0x7FFFFFFF;
  EXPECT_EQ(read_u16(section, first_name), 5);
  EXPECT_EQ(read_u16(section, first_name + 2), u'F');

  // Every one of the seven data descriptions points at 8-aligned data inside the section.
  std::size_t descriptions = 0;
  const auto entries = [&](std::size_t directory, auto&& visit) {
    const std::size_t count = read_u16(section, directory + 12) + read_u16(section, directory + 14);
    for (std::size_t i = 0; i < count; ++i) visit(read_u32(section, directory + 16 + 8 * i + 4) & 0x7FFFFFFF);
  };
  entries(0, [&](std::size_t type) {
    entries(type, [&](std::size_t name) {
      entries(name, [&](std::size_t description) {
        const std::uint32_t offset = read_u32(section, description) - section_rva;
        EXPECT_EQ(offset % 8, 0u);
        EXPECT_LE(offset + read_u32(section, description + 4), section.size());
        ++descriptions;
      });
    });
  });
  EXPECT_EQ(descriptions, 7u);
}

TEST(PeResources, ReplaceKeepsTheFirstLanguageAndDropsTheOthers) {
  ResourceTable table = sample_table();
  table.replace(resource_id(resource_type_rcdata), resource_id(5), "new", language_neutral);
  const auto found = table.find(resource_id(resource_type_rcdata), resource_id(5));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->language, resource_id(0x407));
  EXPECT_EQ(found[0]->data, "new");

  table.replace(resource_id(resource_type_rcdata), resource_id(99), "added", language_neutral);
  const auto added = table.find(resource_id(resource_type_rcdata), resource_id(99));
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->language, resource_id(language_neutral));

  table.remove_type(named(u"CUSTOM"));
  EXPECT_TRUE(table.find(named(u"CUSTOM"), resource_id(7)).empty());
  EXPECT_EQ(table.resources().size(), 4u);
}

TEST(PeResources, RefusesMalformedDirectories) {
  const std::string good = write_resource_section(sample_table(), section_rva);
  // One type whose name directory has `fan_out` entries, each naming one shared language
  // directory of `fan_out` entries: few bytes, very many visits.
  const auto shared_directories = [](std::uint16_t fan_out) {
    std::string section(16 + 8 + 16 + 8 * fan_out + 16 + 8 * fan_out + 16, '\0');
    put_u16(section, 14, 1);
    put_u32(section, 16, 10);
    put_u32(section, 20, 0x80000000 | 24);
    const std::size_t names = 24;
    const std::size_t languages = names + 16 + 8 * fan_out;
    const std::size_t data = languages + 16 + 8 * fan_out;
    put_u16(section, names + 14, fan_out);
    put_u16(section, languages + 14, fan_out);
    for (std::uint16_t i = 0; i < fan_out; ++i) {
      put_u32(section, names + 16 + 8 * i, i);
      put_u32(section, names + 20 + 8 * i, 0x80000000 | static_cast<std::uint32_t>(languages));
      put_u32(section, languages + 16 + 8 * i, i);
      put_u32(section, languages + 20 + 8 * i, static_cast<std::uint32_t>(data));
    }
    put_u32(section, data, section_rva);
    return section;
  };
  const struct {
    const char* description;
    std::string section;
    const char* message;
  } cases[] = {
      {"empty", "", "cut short"},
      {"cut inside the directories", good.substr(0, 40), "cut short"},
      {"data outside the section",
       [&] {
         std::string s = good;
         // The first data description sits right after the directories; aim it far away.
         const std::size_t description = s.find(std::string("\x0B\0\0\0", 4)) - 4;
         put_u32(s, description, 0x100000);
         return s;
       }(),
       "outside the file"},
      {"data where a type directory belongs",
       [&] {
         std::string s = good;
         put_u32(s, 20, read_u32(s, 20) & 0x7FFFFFFF);
         return s;
       }(),
       "data where a directory belongs"},
      {"a fourth level",
       [&] {
         std::string s = shared_directories(1);
         put_u32(s, 48 + 20, 0x80000000);  // the language entry of a fan-out of one
         return s;
       }(),
       "deeper than three levels"},
      {"shared directories visited over and over", shared_directories(200), "refers to itself"},
      {"leaves sharing one blob", testing::resources_sharing_one_blob(section_rva, 3, 1000),
       "more data than the file holds"},
      {"entries sharing one long name",
       [&] {
         // Three languages named by one string of 2000 code units: three copies of 4000 bytes.
         std::string s = testing::resources_sharing_one_blob(section_rva, 3, 0);
         const auto name = static_cast<std::uint32_t>(s.size());
         s.append(2 + 4000, 'n');
         put_u16(s, name, 2000);
         for (std::size_t i = 0; i < 3; ++i) put_u32(s, 48 + 16 + 8 * i, 0x80000000 | name);
         return s;
       }(),
       "more data than the file holds"},
      // No leaf at all: the names are copied on the way down, and that counts too.
      {"directories sharing one long name with no data below", testing::resources_sharing_one_name(100, 2000),
       "more data than the file holds"},
      {"a name of length zero",
       [&] {
         std::string s = good;
         put_u32(s, 16, 0x80000000 | static_cast<std::uint32_t>(s.size() - 2));
         put_u16(s, s.size() - 2, 0);
         return s;
       }(),
       "empty name"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    try {
      read_section(test.section);
      ADD_FAILURE() << "accepted";
    } catch (const ImageFormatError& error) {
      EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(read_section(shared_directories(3)).resources().size(), 9u) << "a small shared tree is still read";
  EXPECT_EQ(read_section(testing::resources_sharing_one_name(2, 10)).resources().size(), 0u)
      << "names copied less than the file holds are read";
  EXPECT_EQ(read_section(testing::resources_sharing_one_blob(section_rva, 1, 1000)).resources()[0].data,
            std::string(1000, 'B'));
}

TEST(PeResources, ATableMadeAtOnceEqualsOneAddedToInTurn) {
  const std::vector<Resource> resources = {
      {resource_id(resource_type_rcdata), resource_id(5), resource_id(0x409), "first", 0},
      {named(u"CUSTOM"), named(u"b"), resource_id(0), "b", 0},
      {resource_id(resource_type_rcdata), resource_id(5), resource_id(0x407), "german", 0},
      {resource_id(resource_type_rcdata), resource_id(5), resource_id(0x409), "second", 0},
      {named(u"CUSTOM"), named(u"A"), resource_id(0), "a", 0},
  };
  ResourceTable added;
  for (const Resource& resource : resources) added.add(resource);
  const ResourceTable made(resources);
  ASSERT_EQ(made.resources().size(), 4u);
  ASSERT_EQ(made.resources().size(), added.resources().size());
  for (std::size_t i = 0; i < made.resources().size(); ++i) {
    EXPECT_TRUE(same(made.resources()[i], added.resources()[i])) << i;
  }
  EXPECT_EQ(made.find(resource_id(resource_type_rcdata), resource_id(5))[1]->data, "second");
}

}  // namespace
}  // namespace osvari::pack

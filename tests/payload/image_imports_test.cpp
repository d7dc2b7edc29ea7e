// The import reader: the DLL names of a built image, and nothing from damaged ones.
#include "payload/image_imports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/little_endian.h"
#include "tests/support/onefile_runner.h"

namespace osvari::testing {
namespace {

using Names = std::vector<std::string>;

// A PE32+ image of headers and one section at file offset 0x200 (RVA 0x1000) holding the import
// descriptors, then the names.
struct ImageLayout {
  static constexpr std::size_t pe_offset = 0x80;
  static constexpr std::size_t optional_header = pe_offset + 24;
  static constexpr std::size_t import_directory = optional_header + 112 + 8;
  static constexpr std::size_t section_table = optional_header + 240;
  static constexpr std::size_t section_offset = 0x200;
  static constexpr std::uint32_t section_rva = 0x1000;
};

void put(std::string& image, std::size_t offset, std::uint64_t value, std::size_t size) {
  if (image.size() < offset + size) image.resize(offset + size, '\0');
  store_little_endian(image, offset, value, size);
}

std::string image_importing(const Names& names) {
  using L = ImageLayout;
  std::string image(L::section_offset, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put(image, 0x3C, L::pe_offset, 4);
  image.replace(L::pe_offset, 4, std::string("PE\0\0", 4));
  put(image, L::pe_offset + 4, 0x8664, 2);     // machine
  put(image, L::pe_offset + 6, 1, 2);          // one section
  put(image, L::pe_offset + 20, 240, 2);       // optional header size
  put(image, L::optional_header, 0x20B, 2);    // PE32+
  put(image, L::optional_header + 108, 16, 4); // sixteen directories
  const std::size_t descriptors = (names.size() + 1) * 20;
  put(image, L::import_directory, L::section_rva, 4);
  put(image, L::import_directory + 4, descriptors, 4);

  std::string section(descriptors, '\0');
  for (std::size_t i = 0; i < names.size(); ++i) {
    put(section, i * 20 + 12, L::section_rva + section.size(), 4);  // name
    put(section, i * 20 + 16, L::section_rva, 4);                   // first thunk
    section += names[i];
    section.push_back('\0');
  }
  section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF}, '\0');
  const std::size_t header = L::section_table;
  image.replace(header, 8, std::string(".idata\0\0", 8));
  put(image, header + 8, section.size(), 4);    // virtual size
  put(image, header + 12, L::section_rva, 4);   // virtual address
  put(image, header + 16, section.size(), 4);   // raw size
  put(image, header + 20, L::section_offset, 4);
  return image + section;
}

std::optional<Names> read_names(const std::string& image) {
  return read_imported_dll_names([&](std::uint64_t offset, unsigned char* into, std::size_t length) -> std::size_t {
    if (offset >= image.size()) return 0;
    const std::size_t count = std::min<std::size_t>(length, image.size() - offset);
    std::copy_n(image.data() + offset, count, into);
    return count;
  });
}

TEST(ImageImports, ReadsTheNamesInTheirOrder) {
  EXPECT_EQ(read_names(image_importing({"KERNEL32.dll", "imported_value.dll", "msvcrt.dll"})),
            (Names{"KERNEL32.dll", "imported_value.dll", "msvcrt.dll"}));
  EXPECT_EQ(read_names(image_importing({})), Names{});
  EXPECT_EQ(read_names(image_importing({std::string(255, 'n')})), Names{std::string(255, 'n')});

  std::string no_directory = image_importing({"a.dll"});
  put(no_directory, ImageLayout::import_directory, 0, 4);
  EXPECT_EQ(read_names(no_directory), Names{});
}

TEST(ImageImports, ReadsTheImportsOfBuiltImages) {
  const std::optional<Names> library = read_names(built_library(L"importing_app.dll"));
  ASSERT_TRUE(library.has_value());
  EXPECT_NE(std::find(library->begin(), library->end(), "imported_value.dll"), library->end());
  const std::optional<Names> program = read_names(built_library(L"importing_program.exe"));
  ASSERT_TRUE(program.has_value());
  EXPECT_NE(std::find(program->begin(), program->end(), "imported_value.dll"), program->end());
  EXPECT_NE(std::find(program->begin(), program->end(), "KERNEL32.dll"), program->end());
}

TEST(ImageImports, GivesNothingForADamagedImage) {
  using L = ImageLayout;
  const std::string good = image_importing({"first.dll", "second.dll"});
  const auto changed = [&](std::size_t offset, std::uint64_t value, std::size_t size) {
    std::string image = good;
    put(image, offset, value, size);
    return image;
  };
  const std::size_t first_name = L::section_offset + 3 * 20;
  const struct {
    const char* description;
    std::string image;
  } cases[] = {
      {"empty", ""},
      {"no MZ", changed(0, 'X', 1)},
      {"PE header offset past the end", changed(0x3C, 0x1000, 4)},
      {"PE header offset beyond any header", changed(0x3C, 0xFFFFFFFF, 4)},
      {"no PE signature", changed(L::pe_offset, 'Q', 1)},
      {"unknown optional header", changed(L::optional_header, 0x107, 2)},
      {"optional header too short for its directories", changed(L::pe_offset + 20, 64, 2)},
      {"section table past the end", changed(L::pe_offset + 6, 90, 2)},
      {"more sections than any image has", changed(L::pe_offset + 6, 0xFFFF, 2)},
      {"import directory outside every section", changed(L::import_directory, 0x9000, 4)},
      {"import directory at the very end of its section", changed(L::import_directory, L::section_rva + 0x1FC, 4)},
      {"section data past the end of the file", changed(L::section_table + 20, 0x10000, 4)},
      {"name outside every section", changed(L::section_offset + 12, 0x50000, 4)},
      {"name in the headers", changed(L::section_offset + 12, 0x10, 4)},
      {"empty name", changed(first_name, 0, 1)},
      {"name with a control character", changed(first_name + 2, '\n', 1)},
      {"name beyond ASCII", changed(first_name + 2, 0xE9, 1)},
      {"a descriptor without a name in place of the closing one", changed(L::section_offset + 2 * 20 + 16, L::section_rva, 4)},
      {"cut inside the section", good.substr(0, L::section_offset + 30)},
      {"cut inside the headers", good.substr(0, L::section_table + 10)},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(read_names(test.image), std::nullopt) << test.description;
  }

  // A name that runs to the end of its section and of the file, with no terminator.
  std::string unended = image_importing({"x.dll"});
  const std::size_t name_at = L::section_offset + 2 * 20;
  unended.resize(name_at);
  unended += std::string(0x200 - 2 * 20, 'a');
  EXPECT_EQ(read_names(unended), std::nullopt) << "unended name";

  // More descriptors than any image holds.
  Names many(max_imported_dlls + 1, "a.dll");
  EXPECT_EQ(read_names(image_importing(many)), std::nullopt) << "too many descriptors";
  many.pop_back();
  EXPECT_EQ(read_names(image_importing(many)), many);
}

}  // namespace
}  // namespace osvari::testing

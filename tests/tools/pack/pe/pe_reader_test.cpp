// The one PE reader: headers parsed once, addresses mapped to file offsets, every read checked.
#include "tools/pack/pe/pe_reader.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::pack {
namespace {

using testing::build_executable_image;
using testing::build_pe_image;
using testing::put_u16;
namespace layout = testing::executable_layout;

TEST(PeReader, ReadsTheHeadersOnce) {
  const std::string image = build_executable_image({.subsystem = 3, .overlay = "after"});
  const ImageBytes bytes = ImageBytes::in_memory(image);
  const std::optional<PeHeaders> headers = PeHeaders::read(bytes);
  ASSERT_TRUE(headers);
  EXPECT_EQ(headers->file_header().coff_offset, layout::coff_header);
  EXPECT_EQ(headers->file_header().machine, pe_machine_x86_64);
  EXPECT_FALSE(headers->file_header().is_dll());
  EXPECT_EQ(headers->file_header().optional_offset(), layout::optional_header);
  EXPECT_EQ(headers->file_size(), image.size());
  EXPECT_EQ(headers->subsystem(), 3);
  EXPECT_EQ(headers->file_alignment(), layout::file_alignment);
  EXPECT_EQ(headers->section_alignment(), layout::section_alignment);
  EXPECT_EQ(headers->size_of_headers(), 0x400u);
  EXPECT_EQ(headers->directory_count(), 16u);
  EXPECT_EQ(headers->directory_entry_offset(pe_resource_directory), layout::optional_header + 112 + 16);
  EXPECT_EQ(headers->section_table_offset(), layout::section_table);
  EXPECT_EQ(headers->section_header_offset(1), layout::section_table + 40);
  ASSERT_EQ(headers->sections().size(), 2u);
  EXPECT_EQ(headers->sections()[0].virtual_address, layout::code_address);
  EXPECT_EQ(headers->sections()[0].raw_offset, 0x400u);
  EXPECT_EQ(headers->sections()[1].virtual_address, layout::second_address);
  EXPECT_TRUE(headers->section_data_within_file());
  EXPECT_FALSE(PeHeaders::read(ImageBytes::in_memory(image.substr(0, image.size() - 0x210)))->section_data_within_file());
}

TEST(PeReader, MapsAddressesToFileDataOnly) {
  // The code section: 0x345 bytes in memory at 0x1000, 0x400 bytes of file data at 0x400.
  const std::optional<PeHeaders> headers = PeHeaders::read(ImageBytes::in_memory(build_executable_image()));
  ASSERT_TRUE(headers);
  const struct {
    std::uint32_t address;
    std::uint32_t length;
    std::optional<std::uint64_t> expected;
  } cases[] = {
      {0x1000, 1, 0x400},
      {0x1010, 0x335, 0x410},
      {0x1344, 1, 0x744},
      {0x1345, 1, std::nullopt},  // past the section's size in memory: the file's padding is not the section
      {0x1340, 0xC0, 0x740},      // a run that starts in the section may reach into its file padding
      {0x1340, 0xC1, std::nullopt},
      {0x0FFF, 1, std::nullopt},  // the headers are in no section
      {0x1800, 1, std::nullopt},  // between sections
      {0x2000, 12, 0x800},
      {0x2000, 0x201, std::nullopt},
      {0xFFFFFFFF, 0xFFFFFFFF, std::nullopt},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(headers->file_offset(test.address, test.length), test.expected)
        << std::hex << test.address << "+" << test.length;
  }
  EXPECT_EQ(headers->file_data_from(0x2004), (std::pair<std::uint64_t, std::uint32_t>{0x804, 0x1FC}));
  EXPECT_FALSE(headers->file_data_from(0x3000));
}

TEST(PeReader, SaysWhereTheFileHeaderEnds) {
  const std::string image = build_pe_image();
  const struct {
    const char* description;
    std::string bytes;
    std::optional<PeHeaderProblem> problem;
  } cases[] = {
      {"empty", "", PeHeaderProblem::no_mz_header},
      {"text", "not an image at all, not at all", PeHeaderProblem::no_mz_header},
      {"bare MZ", "MZ", PeHeaderProblem::cut_short},
      {"signature past the end", image.substr(0, 0x42), PeHeaderProblem::no_pe_header},
      {"cut inside the COFF header", image.substr(0, 0x44 + 19), PeHeaderProblem::cut_short},
      {"cut before the optional header's magic", image.substr(0, 0x44 + 20), std::nullopt},
      {"whole", image, std::nullopt},
  };
  for (const auto& test : cases) {
    const auto header = read_pe_file_header(ImageBytes::in_memory(test.bytes));
    if (test.problem) {
      ASSERT_TRUE(std::holds_alternative<PeHeaderProblem>(header)) << test.description;
      EXPECT_EQ(std::get<PeHeaderProblem>(header), *test.problem) << test.description;
    } else {
      ASSERT_TRUE(std::holds_alternative<PeFileHeader>(header)) << test.description;
      EXPECT_EQ(std::get<PeFileHeader>(header).optional_magic.has_value(), test.bytes.size() > 0x58)
          << test.description;
    }
  }
}

TEST(PeReader, ReadsPe32AndPe32PlusAndNothingElse) {
  std::string pe32 = build_executable_image({.magic = 0x10B});
  put_u16(pe32, layout::optional_header + 92, 16);  // PE32 keeps its directory count 16 bytes earlier
  std::string unknown = build_executable_image({.magic = 0x107});
  const std::string image = build_executable_image();
  EXPECT_EQ(PeHeaders::read(ImageBytes::in_memory(pe32))->directory_count(), 16u);
  EXPECT_EQ(PeHeaders::read(ImageBytes::in_memory(pe32))->directory_entry_offset(0), layout::optional_header + 96);
  EXPECT_FALSE(PeHeaders::read(ImageBytes::in_memory(unknown)));
  EXPECT_FALSE(PeHeaders::read(ImageBytes::in_memory(image.substr(0, layout::section_table + 60))))
      << "cut inside the section table";
  for (std::size_t length = 0; length < image.size(); ++length) {
    try {
      read_editable_headers(ImageBytes::in_memory(std::string_view(image).substr(0, length)));
      ADD_FAILURE() << "accepted when cut to " << length << " bytes";
    } catch (const ImageFormatError&) {
    }
  }
  EXPECT_NO_THROW(read_editable_headers(ImageBytes::in_memory(image)));
}

TEST(PeReader, ChecksEveryReadAgainstTheSize) {
  const std::string image = "MZ0123456789";
  const ImageBytes bytes = ImageBytes::in_memory(image);
  EXPECT_EQ(bytes.u32(8), 0x39383736u);
  EXPECT_FALSE(bytes.u32(9));
  EXPECT_FALSE(bytes.u16(0xFFFFFFFFFFFFFFFF));
  std::array<unsigned char, 1> byte{};
  EXPECT_FALSE(bytes.read(12, byte));
  EXPECT_TRUE(bytes.read(11, byte));
}

}  // namespace
}  // namespace osvari::pack

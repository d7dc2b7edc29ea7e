// The little-endian helpers every on-disk number goes through.
#include "base/little_endian.h"

#include <gtest/gtest.h>

#include <string>

namespace osvari {
namespace {

TEST(LittleEndian, ReadsLeastSignificantByteFirst) {
  const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x88\xFF", 9);
  const struct {
    std::size_t offset;
    std::size_t count;
    std::uint64_t expected;
  } cases[] = {
      {0, 0, 0},
      {0, 1, 0x01},
      {0, 2, 0x0201},
      {1, 3, 0x040302},
      {0, 8, 0x8807060504030201},
      {7, 2, 0xFF88},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(little_endian_value(std::string_view(bytes).substr(test.offset, test.count)), test.expected)
        << test.offset << "+" << test.count;
    EXPECT_EQ(little_endian_value(reinterpret_cast<const unsigned char*>(bytes.data()) + test.offset, test.count),
              test.expected);
  }
  EXPECT_EQ(little_endian_u16(bytes, 7), 0xFF88);
  EXPECT_EQ(little_endian_u32(bytes, 4), 0x88070605u);
}

TEST(LittleEndian, WritesWhatItReads) {
  std::string out;
  append_little_endian(out, 0x1234, 2);
  append_little_endian(out, 0xFEDCBA9876543210, 8);
  append_little_endian(out, 0xABCDEF, 2);  // only the low bytes
  EXPECT_EQ(out, std::string("\x34\x12\x10\x32\x54\x76\x98\xBA\xDC\xFE\xEF\xCD", 12));
  store_little_endian(out, 2, 0xA1B2C3D4, 4);
  EXPECT_EQ(little_endian_u32(out, 2), 0xA1B2C3D4u);
  EXPECT_EQ(little_endian_value(std::string_view(out).substr(6, 4)), 0xFEDCBA98u) << "bytes after it stay";
}

}  // namespace
}  // namespace osvari

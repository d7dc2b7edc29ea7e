// The version information resource: version texts read into numbers, and the block written.
#include "tools/pack/executable_resources/version_resource.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/version_reader.h"

namespace osvari::pack {
namespace {

using Numbers = std::array<std::uint16_t, 4>;

TEST(VersionResource, ReadsTheFourNumbersOfAVersionText) {
  const struct {
    std::u16string text;
    std::optional<Numbers> expected;
  } cases[] = {
      {u"7", Numbers{7, 0, 0, 0}},
      {u"2.1", Numbers{2, 1, 0, 0}},
      {u"1.2.3", Numbers{1, 2, 3, 0}},
      {u"1.2.3.4", Numbers{1, 2, 3, 4}},
      {u"0.0.0.0", Numbers{0, 0, 0, 0}},
      {u"65535.65535.65535.65535", Numbers{65535, 65535, 65535, 65535}},
      {u"2024.12.10", Numbers{2024, 12, 10, 0}},
      {u"007.01", Numbers{7, 1, 0, 0}},
      {u"1.2.3.4.5", std::nullopt},
      {u"1..2", std::nullopt},
      {u"1.2.", std::nullopt},
      {u".1", std::nullopt},
      {u"2.1.0-rc3", std::nullopt},
      {u"v1", std::nullopt},
      {u"1.2 ", std::nullopt},
      {u"1,2", std::nullopt},
      {u"1.65536", std::nullopt},
      {u"99999999999999999999", std::nullopt},
      {u"beta", std::nullopt},
      {u"", std::nullopt},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(version_numbers(test.text), test.expected) << std::string(test.text.begin(), test.text.end());
  }
}

TEST(VersionResource, WritesTheStringsAndNumbersGiven) {
  using Strings = std::map<std::u16string, std::u16string>;
  const struct {
    const char* description;
    VersionInformation information;
    Strings expected;
    Numbers numbers;
  } cases[] = {
      {"everything",
       {u"Example Ltd", u"My App", u"2.1.0", u"my-app.exe"},
       {{u"CompanyName", u"Example Ltd"},
        {u"FileDescription", u"My App"},
        {u"FileVersion", u"2.1.0"},
        {u"InternalName", u"my-app"},
        {u"OriginalFilename", u"my-app.exe"},
        {u"ProductName", u"My App"},
        {u"ProductVersion", u"2.1.0"}},
       {2, 1, 0, 0}},
      {"only the file name",
       {u"", u"", u"", u"tool.v2.exe"},
       {{u"FileDescription", u"tool.v2"},
        {u"InternalName", u"tool.v2"},
        {u"OriginalFilename", u"tool.v2.exe"},
        {u"ProductName", u"tool.v2"}},
       {0, 0, 0, 0}},
      {"text beyond ASCII, odd lengths",
       {u"\u00C9t\u00E9 & Co", u"\u0416\U0001F600", u"1.2.3.4", u"a.exe"},
       {{u"CompanyName", u"\u00C9t\u00E9 & Co"},
        {u"FileDescription", u"\u0416\U0001F600"},
        {u"FileVersion", u"1.2.3.4"},
        {u"InternalName", u"a"},
        {u"OriginalFilename", u"a.exe"},
        {u"ProductName", u"\u0416\U0001F600"},
        {u"ProductVersion", u"1.2.3.4"}},
       {1, 2, 3, 4}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const std::string block = build_version_resource(test.information).value();
    EXPECT_EQ(block.size() % 4, 0u);
    const testing::VersionBlock read = testing::read_version_block(block);
    EXPECT_EQ(read.strings, test.expected);
    EXPECT_EQ(read.file_version, test.numbers);
    EXPECT_EQ(read.product_version, test.numbers);
    EXPECT_EQ(read.file_type, 1u);  // an application
    EXPECT_EQ(read.string_table, u"040904B0");
    EXPECT_EQ(read.translation, 0x04B00409u);
  }
}

TEST(VersionResource, HoldsTextsUpToItsSixteenBitLengthsAndRefusesLongerOnes) {
  const auto with = [](std::size_t company, std::size_t product, std::size_t version) {
    return VersionInformation{std::u16string(company, u'c'), std::u16string(product, u'p'),
                              u"1.2" + std::u16string(version, u'v'), u"app.exe"};
  };
  const struct {
    const char* description;
    std::function<VersionInformation(std::size_t)> information;
  } cases[] = {
      {"a long company name", [&](std::size_t n) { return with(n, 0, 0); }},
      {"a long product name, written twice", [&](std::size_t n) { return with(0, n, 0); }},
      {"a long version text, written twice", [&](std::size_t n) { return with(0, 0, n); }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    // The longest text that fits: one code unit more does not.
    std::size_t length = 0;
    std::size_t too_long = 70000;
    while (too_long - length > 1) {
      const std::size_t middle = (length + too_long) / 2;
      (build_version_resource(test.information(middle)) ? length : too_long) = middle;
    }
    const std::string block = build_version_resource(test.information(length)).value();
    EXPECT_GT(block.size(), max_version_resource_size - 16);
    EXPECT_EQ(testing::read_u16(block, 0), block.size()) << "the root's length holds the whole block";
    EXPECT_FALSE(build_version_resource(test.information(length + 1)));
    EXPECT_FALSE(build_version_resource(test.information(70000)));
  }
}

}  // namespace
}  // namespace osvari::pack

// Input file names turned into entry names: UTF-8 decoding, the launcher's name rules, letter case.
#include "tools/pack/inputs/entry_names.h"

#include <gtest/gtest.h>

#include "tests/support/entry_name_cases.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

TEST(EntryNames, DecodesValidUtf8) {
  const struct {
    std::string_view utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"plain.txt", u"plain.txt"},
      {"\xC3\xB1", u"\u00F1"},                    // two bytes
      {"\xD0\x96", u"\u0416"},                    // two bytes, Cyrillic
      {"\xEF\xBD\xA1", u"\uFF61"},                // three bytes
      {"\xEF\xBF\xBF", u"\uFFFF"},                // largest three-byte form
      {"\xF0\x9F\x98\x80", u"\U0001F600"},        // four bytes: a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},        // largest code point
      {"a\xC2\x80z", u"a\u0080z"},
  };
  for (const auto& test : cases) {
    const auto result = utf8_to_utf16(test.utf8);
    ASSERT_TRUE(result.has_value()) << test.utf8;
    EXPECT_EQ(*result, test.utf16) << test.utf8;
    EXPECT_EQ(utf16_to_utf8(test.utf16), test.utf8);
  }
}

TEST(EntryNames, RefusesInvalidUtf8) {
  const std::string_view cases[] = {
      "\xFF",              // never a lead byte
      "\x80",              // continuation without a lead
      "ab\xC3",            // cut after the lead byte
      "\xE2\x82",          // cut inside a three-byte form
      "\xC0\x80",          // overlong zero
      "\xC1\xBF",          // overlong two-byte
      "\xE0\x80\xAF",      // overlong three-byte
      "\xF0\x80\x80\xAF",  // overlong four-byte
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF8\x88\x80\x80\x80",
      "\xC3\x28",  // lead followed by a non-continuation
  };
  for (std::string_view text : cases) EXPECT_FALSE(utf8_to_utf16(text).has_value()) << ::testing::PrintToString(text);
}

TEST(EntryNames, ShowsUnpairedSurrogatesAsReplacementCharacters) {
  EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', char16_t{0xD800}, u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t{0xDC00}}), "\xEF\xBF\xBD");
}

TEST(EntryNames, NamesEachProblemOfAComponent) {
  const struct {
    std::u16string_view component;
    std::string_view problem;
  } cases[] = {
      {u"file.txt", ""},
      {u".hidden", ""},
      {u"a b", ""},
      {u"", "is empty"},
      {u".", "is \".\""},
      {u"..", "is \"..\""},
      {u"a\\b", "contains a backslash"},
      {u"x/y", "contains a slash"},
      {u"c:d", "contains a colon"},
      {u"stream:$DATA", "contains a colon"},
      {u"NUL", "is a Windows device name"},
      {u"com1.log", "is a Windows device name"},
      {u"trail.", "ends in a dot or a space"},
      {u"trail ", "ends in a dot or a space"},
      {u"a?b", "contains one of < > \" | ? *"},
      {u"a\tb", "contains a control character"},
      {std::u16string_view(u"a\0b", 3), "contains a zero character"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(name_component_problem(test.component), test.problem) << utf16_to_utf8(test.component);
  }
}

// The same table as the launcher's check: a name the launcher would refuse is never packed.
TEST(EntryNames, RefusesExactlyTheNamesTheLauncherRefuses) {
  for (const osvari::testing::EntryNameCase& test : osvari::testing::entry_name_cases) {
    std::vector<std::filesystem::path> components;
    for (std::size_t start = 0;;) {
      const std::size_t end = test.name.find(u'\\', start);
      components.emplace_back(utf16_to_utf8(test.name.substr(start, end - start)));
      if (end == std::u16string_view::npos) break;
      start = end + 1;
    }
    const std::string shown = utf16_to_utf8(test.name);
    try {
      EXPECT_EQ(make_entry_name(components, "src"), test.name) << shown;
      EXPECT_TRUE(test.safe) << shown << " was packed";
    } catch (const PackError& error) {
      EXPECT_FALSE(test.safe) << shown << ": " << error.what();
    }
  }
}

TEST(EntryNames, FoldsLetterCaseAsWindowsComparesNames) {
  const struct {
    std::u16string_view name;
    std::u16string_view folded;
  } cases[] = {
      {u"App.Dll", u"APP.DLL"},
      {u"sub\\readme.md", u"SUB\\README.MD"},
      {u"\u00e9t\u00e9\u00f7\u00ff", u"\u00c9T\u00c9\u00f7\u0178"},  // the division sign has no case
      {u"\u0101\u013a\u017e", u"\u0100\u0139\u017d"},              // Latin Extended-A pairs
      {u"\u03c3\u03c2\u03c9", u"\u03a3\u03a3\u03a9"},              // both small sigmas
      {u"\u0436\u0451\u0461", u"\u0416\u0401\u0460"},              // Cyrillic
      {u"\uff41", u"\uff21"},                                      // fullwidth
      {u"\u4e2d1_-", u"\u4e2d1_-"},
  };
  for (const auto& test : cases) EXPECT_EQ(fold_letter_case(test.name), test.folded) << utf16_to_utf8(test.name);
}

TEST(EntryNames, JoinsComponentsWithBackslashes) {
  EXPECT_EQ(make_entry_name({"a", "b", "c.txt"}, "src/a/b/c.txt"), u"a\\b\\c.txt");
  EXPECT_EQ(make_entry_name({"\xC3\xB1.txt"}, "x"), u"\u00F1.txt");
}

TEST(EntryNames, AcceptsNamesUpTo1023CodeUnits) {
  const std::string component(200, 'n');
  std::vector<std::filesystem::path> components(5, component);  // 5 * 200 + 4 separators = 1004
  components.push_back(std::string(19, 'f'));                     // + 1 separator + 19 = 1024
  try {
    make_entry_name(components, "too-long");
    ADD_FAILURE() << "a name of 1024 code units was accepted";
  } catch (const PackError& error) {
    EXPECT_EQ(error.exit_code, exit_bad_input);
    EXPECT_STREQ(error.what(), "entry name is longer than 1023 UTF-16 code units: too-long");
  }
  components.back() = std::string(18, 'f');
  EXPECT_EQ(make_entry_name(components, "fits").size(), 1023u);
  // Code units, not bytes, count: each of these is three bytes but one unit.
  std::string wide;
  for (int i = 0; i < 1023; ++i) wide += "\xEF\xBD\xA1";
  EXPECT_EQ(make_entry_name({wide}, "wide").size(), 1023u);
}

TEST(EntryNames, ReportsBadComponentsWithTheSourcePath) {
  const struct {
    std::vector<std::filesystem::path> components;
    std::string message;
  } cases[] = {
      {{"ok", "bad\xFFname"}, "file name is not valid UTF-8: src"},
      {{"a\\b"}, "file name contains a backslash: src"},
      {{"dir", "c:d"}, "file name contains a colon: src"},
      {{"..", "x"}, "file name is \"..\": src"},
      {{}, "file name is empty: src"},
  };
  for (const auto& test : cases) {
    try {
      make_entry_name(test.components, "src");
      ADD_FAILURE() << test.message;
    } catch (const PackError& error) {
      EXPECT_EQ(error.what(), test.message);
      EXPECT_EQ(error.exit_code, exit_bad_input);
    }
  }
}

}  // namespace
}  // namespace osvari::pack

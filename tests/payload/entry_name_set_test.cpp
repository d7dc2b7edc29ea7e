// Which names land on an earlier entry's file or folder, as the launcher and the packing tool
// both judge them.
#include "payload/entry_name_set.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace osvari::testing {
namespace {

using Kind = EntryNameClashKind;

struct Expected {
  Kind kind;
  std::size_t earlier;
};

struct NameSequenceCase {
  const char* title;
  std::vector<std::u16string> names;
  // Of the last name; none when it is added.
  std::optional<Expected> clash;
};

TEST(EntryNameSet, FindsTheEarlierEntryANameLandsOn) {
  const NameSequenceCase cases[] = {
      {"distinct names", {u"main.dll", u"a\\b.txt", u"a\\c.txt", u"ab", u"a.b", u"b\\a"}, std::nullopt},
      {"the same name", {u"main.dll", u"x.txt", u"y.txt", u"x.txt"}, Expected{Kind::same_file, 1}},
      {"another letter case", {u"main.dll", u"Notes.TXT", u"notes.txt"}, Expected{Kind::same_file, 1}},
      {"letter case beyond ASCII", {u"\u00e9t\u00e9\\\u0436\u03c3.txt", u"\u00c9T\u00c9\\\u0416\u03a3.TXT"},
       Expected{Kind::same_file, 0}},
      {"both small sigmas", {u"\u03c3", u"\u03c2"}, Expected{Kind::same_file, 0}},
      {"letters without case stay apart", {u"\u4e2d", u"\u4e2e", u"1", u"_"}, std::nullopt},
      {"a file, then a folder of that name", {u"main.dll", u"a", u"A\\b"}, Expected{Kind::below_a_file, 1}},
      {"a file, then a name below a folder inside it", {u"a\\b", u"a\\B\\c\\d"}, Expected{Kind::below_a_file, 0}},
      {"a folder, then a file of that name", {u"main.dll", u"x\\y\\z.txt", u"other", u"X\\Y"},
       Expected{Kind::named_like_a_folder, 1}},
      {"the outermost folder as a file", {u"x\\y\\z.txt", u"x\\w.txt", u"x"}, Expected{Kind::named_like_a_folder, 0}},
      {"a folder shared by many files stays a folder", {u"d\\1", u"d\\2", u"d\\e\\3", u"d\\e\\4", u"d\\e"},
       Expected{Kind::named_like_a_folder, 2}},
      {"names that only begin alike", {u"ab\\c", u"a", u"abc", u"ab\\cd"}, std::nullopt},
  };
  for (const NameSequenceCase& test : cases) {
    SCOPED_TRACE(test.title);
    EntryNameSet set;
    for (std::size_t i = 0; i + 1 < test.names.size(); ++i) {
      ASSERT_EQ(set.add(std::u16string_view(test.names[i])), std::nullopt) << "name " << i;
    }
    const std::optional<EntryNameClash> clash = set.add(std::u16string_view(test.names.back()));
    ASSERT_EQ(clash.has_value(), test.clash.has_value());
    if (clash) {
      EXPECT_EQ(clash->kind, test.clash->kind);
      EXPECT_EQ(clash->earlier, test.clash->earlier);
    }
  }
}

// The launcher's names are wide strings; they fold as the tool's UTF-16 names do.
TEST(EntryNameSet, TakesWideNamesAsTheirCodeUnits) {
  EntryNameSet set;
  EXPECT_EQ(set.add(std::wstring_view(L"\u00e9\\f")), std::nullopt);
  const std::optional<EntryNameClash> clash = set.add(std::u16string_view(u"\u00c9\\F"));
  ASSERT_TRUE(clash.has_value());
  EXPECT_EQ(clash->kind, Kind::same_file);
}

// A refused name claims nothing: later names are judged against the accepted ones alone, and
// entries keep their places in the order names were offered.
TEST(EntryNameSet, ARefusedNameClaimsNothing) {
  EntryNameSet set;
  EXPECT_EQ(set.add(std::u16string_view(u"m")), std::nullopt);
  EXPECT_TRUE(set.add(std::u16string_view(u"M\\n")).has_value());
  EXPECT_TRUE(set.add(std::u16string_view(u"M")).has_value());
  const std::optional<EntryNameClash> below = set.add(std::u16string_view(u"m\\n\\o"));
  ASSERT_TRUE(below.has_value());
  EXPECT_EQ(below->kind, Kind::below_a_file);
  EXPECT_EQ(below->earlier, 0u);
  EXPECT_EQ(set.add(std::u16string_view(u"n")), std::nullopt);
  const std::optional<EntryNameClash> again = set.add(std::u16string_view(u"N"));
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->earlier, 4u);
}

}  // namespace
}  // namespace osvari::testing

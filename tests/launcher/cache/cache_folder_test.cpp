// Names of cache folders, which old ones count as unused, and the start-up check of a folder
// against the cache index over listings made up for each case.
#include "launcher/cache/cache_folder.h"

#include <gtest/gtest.h>

#include <map>

namespace osvari {
namespace {

TEST(CacheFolderNames, TheExecutableNameWithoutItsExtension) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\apps\\tool.exe", L"tool"},   {L"C:\\apps\\Tool.EXE", L"Tool"},   {L"tool.exe", L"tool"},
      {L"C:\\apps\\tool.bin", L"tool.bin"}, {L"C:\\a.exe\\tool", L"tool"},    {L"C:\\apps\\.exe", L".exe"},
      {L"\\\\?\\C:\\x\\my app.exe", L"my app"}};
  for (const auto& [path, base] : cases) EXPECT_EQ(executable_base_name(path), base) << path.size();
  EXPECT_EQ(cache_folder_name(L"tool", L"0123456789abcdef"), L"tool-0123456789abcdef");
}

TEST(CacheFolderNames, OnlyTheBaseAnd16LowerCaseHexDigitsMatch) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"tool-0123456789abcdef", true},  {L"TOOL-0123456789abcdef", true},  {L"tool-0123456789ABCDEF", false},
      {L"tool-0123456789abcde", false},  {L"tool-0123456789abcdef0", false}, {L"tool_0123456789abcdef", false},
      {L"tools-0123456789abcdef", false}, {L"tool-keep", false},             {L"tool-", false},
      {L"other-0123456789abcdef", false}, {L"tool-0123456789abcdeg", false}};
  for (const auto& [name, matches] : cases) {
    EXPECT_EQ(is_cache_folder_name_of(name, L"tool"), matches) << std::string(name.begin(), name.end());
  }
}

TEST(CacheFolderNames, UnusedMeansOurOwnNameShapeAFolderNoLinkAndOlderThan30Days) {
  constexpr std::uint64_t day = 24ull * 3600 * 10'000'000;
  constexpr std::uint64_t now = 20'000 * day;
  const std::wstring own = L"tool-ffffffffffffffff";
  struct Case {
    DirectoryEntry entry;
    bool unused;
  };
  const Case cases[] = {
      {{L"tool-0123456789abcdef", attribute_directory, 0, now - 31 * day}, true},
      {{L"tool-0123456789abcdef", attribute_directory, 0, now - 29 * day}, false},
      {{L"tool-0123456789abcdef", attribute_directory, 0, now + day}, false},
      {{L"tool-0123456789abcdef", attribute_normal, 0, now - 31 * day}, false},
      {{L"tool-0123456789abcdef", attribute_directory | attribute_reparse_point, 0, now - 31 * day}, false},
      {{own, attribute_directory, 0, now - 31 * day}, false},
      {{L"TOOL-ffffffffffffffff", attribute_directory, 0, now - 31 * day}, false},
      {{L"other-0123456789abcdef", attribute_directory, 0, now - 31 * day}, false},
      {{L"onefile_1_2", attribute_directory, 0, now - 31 * day}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_unused_cache(c.entry, L"tool", own, now), c.unused)
        << std::string(c.entry.name.begin(), c.entry.name.end()) << " " << c.entry.attributes;
  }
}

// A folder tree made up of listings; a folder without one cannot be listed.
class FakeTree {
 public:
  void add(const std::wstring& folder, DirectoryEntry entry) { listings_[folder].push_back(std::move(entry)); }
  void add_empty(const std::wstring& folder) { listings_[folder]; }
  FolderLister lister() {
    return [this](const std::wstring& folder, std::vector<DirectoryEntry>& entries) {
      ++listings_made;
      const auto found = listings_.find(folder);
      if (found == listings_.end()) return false;
      entries = found->second;
      return true;
    };
  }
  int listings_made = 0;

 private:
  std::map<std::wstring, std::vector<DirectoryEntry>> listings_;
};

const CacheIndex index{L"0123456789abcdef",
                       {{L"main.dll", 100}, {L"a\\one.txt", 1}, {L"a\\b\\two.txt", 2}, {L"c\\d\\three.txt", 3}}};

FakeTree complete_tree() {
  FakeTree tree;
  tree.add(L"F", {L"main.dll", attribute_normal, 100, cached_file_time});
  tree.add(L"F", {L"a", attribute_directory});
  tree.add(L"F", {L"c", attribute_directory});
  tree.add(L"F", {L"made_by_the_application.log", attribute_normal, 5, cached_file_time});
  tree.add(L"F\\a", {L"one.txt", attribute_normal, 1, cached_file_time});
  tree.add(L"F\\a", {L"b", attribute_directory});
  tree.add(L"F\\a\\b", {L"two.txt", attribute_normal, 2, cached_file_time});
  tree.add(L"F\\c", {L"d", attribute_directory});
  tree.add(L"F\\c\\d", {L"three.txt", attribute_normal, 3, cached_file_time});
  return tree;
}

TEST(CacheFolderCheck, ACompleteFolderTakesOneListingPerFolder) {
  FakeTree tree = complete_tree();
  const CacheCheck check = check_cache_folder(L"F", index, tree.lister());
  EXPECT_TRUE(check.complete());
  EXPECT_EQ(check.rewrite, (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(tree.listings_made, 5);  // F, a, a\b, c, c\d
}

TEST(CacheFolderCheck, MarksMissingWrongSizedAndNonFileEntries) {
  FakeTree tree;
  tree.add(L"F", {L"main.dll", attribute_normal, 99, cached_file_time});  // cut short
  tree.add(L"F", {L"a", attribute_directory});
  tree.add(L"F\\a", {L"one.txt", attribute_directory});  // a folder where a file belongs
  tree.add(L"F\\a", {L"b", attribute_directory});
  tree.add_empty(L"F\\a\\b");  // two.txt deleted; c deleted with everything in it
  const CacheCheck check = check_cache_folder(L"F", index, tree.lister());
  EXPECT_FALSE(check.refused);
  EXPECT_FALSE(check.complete());
  EXPECT_EQ(check.rewrite, (std::vector<bool>{true, true, true, true}));
}

TEST(CacheFolderCheck, AFileChangedInPlaceShowsAnotherTimeAtTheSameSize) {
  FakeTree tree;
  tree.add(L"F", {L"main.dll", attribute_normal, 100, cached_file_time});
  tree.add(L"F", {L"a", attribute_directory});
  tree.add(L"F", {L"c", attribute_directory});
  tree.add(L"F\\a", {L"one.txt", attribute_normal, 1, cached_file_time + 10'000'000});  // rewritten a second later
  tree.add(L"F\\a", {L"b", attribute_directory});
  tree.add(L"F\\a\\b", {L"two.txt", attribute_normal, 2, cached_file_time - 1});
  tree.add(L"F\\c", {L"d", attribute_directory});
  tree.add(L"F\\c\\d", {L"three.txt", attribute_normal, 3, cached_file_time});
  const CacheCheck check = check_cache_folder(L"F", index, tree.lister());
  EXPECT_EQ(check.rewrite, (std::vector<bool>{false, true, true, false}));
}

// Many entries in one folder and spread over many: each listing is made once, and every entry
// is found in it (the time of the check is measured in the benchmark).
TEST(CacheFolderCheck, ThousandsOfEntriesInOneFolderAndInMany) {
  for (const std::size_t folder_count : {std::size_t{1}, std::size_t{100}}) {
    CacheIndex large{L"0123456789abcdef", {}};
    FakeTree tree;
    for (std::size_t i = 0; i < folder_count; ++i) tree.add(L"F", {L"d" + std::to_wstring(i), attribute_directory});
    for (std::size_t i = 0; i < 5000; ++i) {
      const std::wstring folder = L"d" + std::to_wstring(i % folder_count);
      const std::wstring leaf = L"file" + std::to_wstring(i) + L".txt";
      large.entries.push_back({folder + L"\\" + leaf, i});
      // Every 1000th missing, every 1000th (offset by 500) of another size.
      if (i % 1000 != 0) tree.add(L"F\\" + folder, {leaf, attribute_normal, i % 1000 == 500 ? i + 1 : i, cached_file_time});
    }
    const CacheCheck check = check_cache_folder(L"F", large, tree.lister());
    EXPECT_EQ(tree.listings_made, static_cast<int>(folder_count + 1));
    ASSERT_EQ(check.rewrite.size(), 5000u);
    for (std::size_t i = 0; i < 5000; ++i) EXPECT_EQ(check.rewrite[i], i % 500 == 0) << i;
  }
}

TEST(CacheFolderCheck, RefusesALinkAtAnEntryOrOnTheWayToOne) {
  for (const std::wstring linked : {L"main.dll", L"a", L"b", L"three.txt"}) {
    FakeTree tree;
    const auto attributes = [&](const std::wstring& name, std::uint32_t plain) {
      return name == linked ? plain | attribute_reparse_point : plain;
    };
    tree.add(L"F", {L"main.dll", attributes(L"main.dll", attribute_normal), 100, cached_file_time});
    tree.add(L"F", {L"a", attributes(L"a", attribute_directory)});
    tree.add(L"F", {L"c", attribute_directory});
    tree.add(L"F\\a", {L"one.txt", attribute_normal, 1, cached_file_time});
    tree.add(L"F\\a", {L"b", attributes(L"b", attribute_directory)});
    tree.add(L"F\\a\\b", {L"two.txt", attribute_normal, 2, cached_file_time});
    tree.add(L"F\\c", {L"d", attribute_directory});
    tree.add(L"F\\c\\d", {L"three.txt", attributes(L"three.txt", attribute_normal), 3, cached_file_time});
    EXPECT_TRUE(check_cache_folder(L"F", index, tree.lister()).refused) << std::string(linked.begin(), linked.end());
  }
  // A link the application made elsewhere in the folder is its own business.
  FakeTree tree = complete_tree();
  tree.add(L"F", {L"application_link", attribute_directory | attribute_reparse_point});
  EXPECT_TRUE(check_cache_folder(L"F", index, tree.lister()).complete());
}

}  // namespace
}  // namespace osvari

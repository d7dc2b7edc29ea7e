// Removing a tree by walking it: over a scripted file system for what the walk does with each
// entry, then over the real one in a sacrificial area.
#include "launcher/finish/tree_removal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <thread>

#include "launcher/finish/shutdown.h"
#include "paths/extended_length_path.h"
#include "platform/win32.h"
#include "tests/support/sacrificial_area.h"
#include "tests/support/unix_link.h"

namespace osvari {
namespace {

using testing::SacrificialArea;

constexpr std::uint32_t directory = attribute_directory;
constexpr std::uint32_t file = attribute_normal;
constexpr std::uint32_t link = attribute_reparse_point;

// Paths with their attributes; a directory goes only when empty, a read-only entry not at all.
class ScriptedTree final : public FileTreeOperations {
 public:
  ScriptedTree(std::initializer_list<std::pair<std::wstring, std::uint32_t>> entries) : entries_(entries.begin(), entries.end()) {}

  std::set<std::wstring> undeletable;
  std::vector<std::wstring> listed_links;
  std::vector<std::wstring> calls;

  std::optional<std::uint32_t> attributes(const std::wstring& path) override {
    const auto found = entries_.find(path);
    if (found == entries_.end()) return std::nullopt;
    return found->second;
  }
  bool list_directory(const std::wstring& path, std::vector<DirectoryEntry>& out) override {
    if (const auto found = entries_.find(path); found != entries_.end() && (found->second & link) != 0) {
      listed_links.push_back(path);
    }
    for (const auto& [name, attributes] : entries_) {
      if (name.size() > path.size() + 1 && name.starts_with(path + L"\\") &&
          name.find(L'\\', path.size() + 1) == std::wstring::npos) {
        out.push_back({name.substr(path.size() + 1), attributes});
      }
    }
    return true;
  }
  bool set_attributes(const std::wstring& path, std::uint32_t attributes) override {
    calls.push_back(L"attributes " + path + L" " + std::to_wstring(attributes));
    // As on the system: whether it is a directory or a link does not change.
    entries_[path] = attributes | (entries_[path] & (directory | link));
    return true;
  }
  std::wstring final_path(const std::wstring& path) override { return path; }
  bool delete_file(const std::wstring& path, bool clear_blocking_attributes) override {
    calls.push_back(L"delete " + path + (clear_blocking_attributes ? L" clearing" : L""));
    const auto found = entries_.find(path);
    if (clear_blocking_attributes && found != entries_.end()) found->second &= ~attribute_read_only;
    return erase(path, false);
  }
  bool remove_directory(const std::wstring& path) override {
    calls.push_back(L"rmdir " + path);
    return erase(path, true);
  }
  [[nodiscard]] std::vector<std::wstring> remaining() const {
    std::vector<std::wstring> names;
    for (const auto& entry : entries_) names.push_back(entry.first);
    return names;
  }

 private:
  bool erase(const std::wstring& path, bool as_directory) {
    const auto found = entries_.find(path);
    if (found == entries_.end() || undeletable.contains(path)) return false;
    if ((found->second & attribute_read_only) != 0) return false;
    if (((found->second & directory) != 0) != as_directory) return false;
    const bool has_children = std::any_of(entries_.begin(), entries_.end(), [&](const auto& entry) {
      return entry.first.starts_with(path + L"\\");
    });
    if (as_directory && (found->second & link) == 0 && has_children) return false;
    const bool is_link = (found->second & link) != 0;
    entries_.erase(found);
    // What was seen through a link is no longer seen there; its target itself is untouched.
    if (is_link) std::erase_if(entries_, [&](const auto& entry) { return entry.first.starts_with(path + L"\\"); });
    return true;
  }
  std::map<std::wstring, std::uint32_t> entries_;
};

TEST(RemoveTree, WhatHappensToEachKindOfEntry) {
  struct Case {
    const char* label;
    ScriptedTree tree;
    std::vector<std::wstring> remaining;
    bool gone;
  };
  Case cases[] = {
      {"nested_files_and_directories",
       {{L"R", directory}, {L"R\\a", file}, {L"R\\d", directory}, {L"R\\d\\e", directory}, {L"R\\d\\e\\f", file}},
       {},
       true},
      {"read_only_hidden_system",
       {{L"R", directory | attribute_read_only},
        {L"R\\ro", file | attribute_read_only},
        {L"R\\hs", attribute_hidden | attribute_system | attribute_read_only},
        {L"R\\d", directory | attribute_read_only}},
       {},
       true},
      {"links_are_removed_as_links_and_never_entered",
       {{L"R", directory},
        {L"R\\to_dir", directory | link},
        {L"R\\to_dir\\target_file", file},  // seen through the link: must stay
        {L"R\\to_file", file | link}},
       {},
       true},
      {"root_is_a_file", {{L"R", file | attribute_read_only}}, {}, true},
      {"root_is_a_link", {{L"R", directory | link}, {L"R\\inside", file}}, {}, true},
      {"missing_root", {{L"other", file}}, {L"other"}, true},
  };
  for (auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    EXPECT_EQ(remove_tree(L"R", entry.tree), entry.gone);
    EXPECT_EQ(entry.tree.remaining(), entry.remaining);
    // A link is never listed, and nothing seen through it is touched.
    EXPECT_EQ(entry.tree.listed_links, std::vector<std::wstring>{});
    for (const auto& call : entry.tree.calls) {
      EXPECT_TRUE(call.find(L"target_file") == std::wstring::npos && call.find(L"inside") == std::wstring::npos)
          << call;
    }
  }
}

TEST(RemoveTree, ClearsBlockingAttributesOfDirectoriesButNeverOfLinks) {
  ScriptedTree tree{{L"R", directory | attribute_read_only | 0x20},
                    {L"R\\f", attribute_read_only | attribute_hidden | 0x20},
                    {L"R\\plain", 0x20},
                    {L"R\\link", directory | link | attribute_hidden}};
  EXPECT_TRUE(remove_tree(L"R", tree));
  EXPECT_EQ(tree.calls, (std::vector<std::wstring>{L"attributes R 32", L"delete R\\f clearing", L"rmdir R\\link",
                                                   L"delete R\\plain", L"rmdir R"}));
}

TEST(RemoveTree, AnEntryThatWillNotGoLeavesItsDirectoriesAndNothingElse) {
  ScriptedTree tree{{L"R", directory},      {L"R\\a", file},         {L"R\\held", directory},
                    {L"R\\held\\x", file}, {L"R\\held\\y", file}, {L"R\\z", file}};
  tree.undeletable.insert(L"R\\held\\x");
  EXPECT_FALSE(remove_tree(L"R", tree));
  EXPECT_EQ(tree.remaining(), (std::vector<std::wstring>{L"R", L"R\\held", L"R\\held\\x"}));
}

TEST(RemoveTree, StopsWhenOutOfTime) {
  ScriptedTree tree{{L"R", directory}, {L"R\\a", file}, {L"R\\b", file}, {L"R\\c", file}};
  int asked = 0;
  EXPECT_FALSE(remove_tree(L"R", tree, [&asked] { return ++asked > 1; }));
  EXPECT_EQ(tree.remaining(), (std::vector<std::wstring>{L"R", L"R\\b", L"R\\c"}));
}

// The real file system, from a sacrificial current directory with canaries all around.
class RealTreeRemoval : public ::testing::Test {
 protected:
  // Win32 directly: the prefixed form reaches past 260 code units, where the C++ library does not.
  static void make_directory(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(extended_length_path(path).c_str(), nullptr)) << GetLastError();
  }
  static void make_file(const std::wstring& path, std::uint32_t attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE file = CreateFileW(extended_length_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
  }
  static bool exists(const std::wstring& path) {
    return GetFileAttributesW(extended_length_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static std::vector<std::wstring> names_in(const std::wstring& path) {
    std::vector<DirectoryEntry> entries;
    (void)list_directory(extended_length_path(path), L"*", entries);
    std::vector<std::wstring> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  SacrificialArea area;
  std::wstring root = (area.work() / L"onefile_1_2").wstring();
};

TEST_F(RealTreeRemoval, RemovesLongPathsAndProtectedFiles) {
  constexpr std::size_t level_length = 151;  // a backslash and 150 code units
  // Wine keeps every path as a Unix path, which Linux cuts at 4096 bytes.
  const std::string unix_root = testing::unix_path_of(area.work().wstring());
  const std::size_t unix_room = unix_root.empty() ? 8192 : 4095 - unix_root.size() - 40;
  struct Case {
    const char* label;
    std::size_t total_length;  // of the deepest file's path, at least
    std::uint32_t file_attributes;
  };
  const Case cases[] = {
      {"past_260_units", 300, FILE_ATTRIBUTE_NORMAL},
      {"as_long_as_the_file_system_allows", std::min<std::size_t>(unix_room, 4200), FILE_ATTRIBUTE_NORMAL},
      {"past_4096_units", 4200, FILE_ATTRIBUTE_NORMAL},
      {"read_only_hidden_system", 0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    make_directory(root);
    make_file(root + L"\\top.txt", entry.file_attributes);
    std::wstring path = root;
    bool made = true;
    for (int level = 0; made && path.size() + 9 < entry.total_length; ++level) {
      path += L"\\" + std::wstring(level_length - 2, L'a') + static_cast<wchar_t>(L'a' + level % 26);
      made = CreateDirectoryW(extended_length_path(path).c_str(), nullptr) != FALSE;
      if (made) make_file(path + L"\\file.txt", entry.file_attributes);
    }
    if (!made) {
      // Recorded, not failed: the tree cannot exist here, so there is nothing to remove.
      std::cout << entry.label << ": this file system holds no path of " << path.size() << " code units\n";
    }
    SetFileAttributesW(extended_length_path(path).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(remove_tree(extended_length_path(root), system_file_tree_operations()));
    EXPECT_FALSE(exists(root));
    EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  }
}

TEST_F(RealTreeRemoval, LinksInsideAreRemovedAsLinksOrLeftAndTheirTargetsStayWhole) {
  make_directory(root);
  make_file(root + L"\\plain.txt");
  make_directory(root + L"\\sub");
  make_file(root + L"\\sub\\plain.txt");
  const testing::UnixLink directory_link(root + L"\\sub\\to_directory", area.outside().wstring());
  const testing::UnixLink file_link(root + L"\\to_file", (area.outside() / L"canary.txt").wstring());
  ASSERT_TRUE(directory_link.made() && file_link.made()) << "no Unix links can be made here";

  (void)remove_tree(extended_length_path(root), system_file_tree_operations());

  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  // Windows removes a link itself; Wine cannot, so the directory link and its parents stay.
  EXPECT_FALSE(exists(root + L"\\plain.txt"));
  EXPECT_FALSE(exists(root + L"\\sub\\plain.txt"));
  if (exists(root)) {
    EXPECT_TRUE(names_in(root) == std::vector<std::wstring>{L"sub"} ||
                names_in(root) == (std::vector<std::wstring>{L"sub", L"to_file"}));
    EXPECT_EQ(names_in(root + L"\\sub"), std::vector<std::wstring>{L"to_directory"});
  }
}

// The removal at the end of a run: retried while a file is held, given up when it stays held.
class RealUnpackDirectoryRemoval : public RealTreeRemoval {
 protected:
  struct CountingOperations final : CleanupOperations {
    CleanupOperations& real = system_cleanup_operations();
    int walks = 0;
    int pauses = 0;
    bool wait_for_child(RawHandle, std::uint32_t) override { return true; }
    void terminate_child(RawHandle, std::uint32_t) override {}
    void close_child(UniqueHandle) override {}
    std::wstring removal_path(const wchar_t* path) override { return real.removal_path(path); }
    void remove_tree(const std::wstring& path) override {
      ++walks;
      real.remove_tree(path);
    }
    bool is_existing_directory(const std::wstring& path) override { return real.is_existing_directory(path); }
    void sleep(std::uint32_t milliseconds) override {
      ++pauses;
      real.sleep(milliseconds);
    }
  };

  UnpackDirectory directory() const {
    UnpackDirectory named;
    EXPECT_TRUE(named.assign(root));
    return named;
  }
  // Held without delete sharing, so neither the file nor its directory can go.
  HANDLE hold(const std::wstring& path) const {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
};

TEST_F(RealUnpackDirectoryRemoval, AFileHeldForAWhileGoesOnARetry) {
  make_directory(root);
  make_file(root + L"\\held.txt");
  make_file(root + L"\\free.txt");
  HANDLE held = hold(root + L"\\held.txt");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    Sleep(350);
    CloseHandle(held);
  });
  CountingOperations system;
  remove_unpack_directory(directory(), system);
  release.join();
  EXPECT_FALSE(exists(root));
  EXPECT_GE(system.walks, 2);
  EXPECT_LT(system.walks, 21);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST_F(RealUnpackDirectoryRemoval, AFileHeldForGoodIsGivenUpAfter21Walks) {
  make_directory(root);
  make_file(root + L"\\held.txt");
  make_file(root + L"\\free.txt");
  HANDLE held = hold(root + L"\\held.txt");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CountingOperations system;
  remove_unpack_directory(directory(), system);
  CloseHandle(held);
  EXPECT_EQ(system.walks, 21);
  EXPECT_EQ(system.pauses, 20);
  EXPECT_EQ(names_in(root), std::vector<std::wstring>{L"held.txt"});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST_F(RealUnpackDirectoryRemoval, TwoThreadsRemoveOneAtATime) {
  make_directory(root);
  for (int i = 0; i < 50; ++i) make_file(root + L"\\file" + std::to_wstring(i) + L".txt");
  struct OverlapCheck final : CleanupOperations {
    CleanupOperations& real = system_cleanup_operations();
    std::atomic<int> inside{0};
    std::atomic<int> most_inside{0};
    bool wait_for_child(RawHandle, std::uint32_t) override { return true; }
    void terminate_child(RawHandle, std::uint32_t) override {}
    void close_child(UniqueHandle) override {}
    std::wstring removal_path(const wchar_t* path) override { return real.removal_path(path); }
    void remove_tree(const std::wstring& path) override {
      most_inside = std::max(most_inside.load(), ++inside);
      Sleep(50);
      real.remove_tree(path);
      --inside;
    }
    bool is_existing_directory(const std::wstring& path) override { return real.is_existing_directory(path); }
    void sleep(std::uint32_t milliseconds) override { real.sleep(milliseconds); }
  } system;
  const UnpackDirectory named = directory();
  std::thread other([&] { remove_unpack_directory(named, system); });
  remove_unpack_directory(named, system);
  other.join();
  EXPECT_EQ(system.most_inside.load(), 1);
  EXPECT_FALSE(exists(root));
}

}  // namespace
}  // namespace osvari

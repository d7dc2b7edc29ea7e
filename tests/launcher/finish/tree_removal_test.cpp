// Removing a tree by walking it: over a scripted file system for what the walk does with each
// entry, then over the real one in a sacrificial area.
#include "launcher/finish/tree_removal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <iostream>
#include <map>
#include <mutex>
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
// Entries below a link are what is seen through it: its target, which must stay as it is.
// A handle names the entry it was opened on and follows it when it is moved.
class ScriptedTree final : public FileTreeOperations {
 public:
  enum class Links { opened_as_themselves, followed };  // as Windows does, as Wine does

  ScriptedTree(std::initializer_list<std::pair<std::wstring, std::uint32_t>> entries) {
    for (const auto& [name, attributes] : entries) add(name, attributes);
  }

  Links links = Links::opened_as_themselves;
  // Lets the walk delete files on several threads; delete_file then takes a lock of its own.
  bool concurrent = false;
  std::set<std::wstring> undeletable;
  std::vector<std::wstring> listed_links;
  std::vector<std::wstring> calls;
  // Changes made by someone else just before, or just after, the walk opens a path.
  std::map<std::wstring, std::function<void(ScriptedTree&)>> before_open;
  std::map<std::wstring, std::function<void(ScriptedTree&)>> after_open;

  void add(const std::wstring& path, std::uint32_t attributes) { entries_[path] = {attributes, ++last_id_}; }
  // Replaces `path` and all below it with a link through which `seen` shows.
  void swap_for_link(const std::wstring& path, std::initializer_list<std::pair<std::wstring, std::uint32_t>> seen) {
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == path || is_below(entry.first, path); });
    add(path, directory | link);
    for (const auto& [name, attributes] : seen) add(path + L"\\" + name, attributes);
  }
  // Renames `from` with all below it to `to`; handles follow.
  void move(const std::wstring& from, const std::wstring& to) {
    std::map<std::wstring, Node> moved;
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->first == from || is_below(it->first, from)) {
        moved[to + it->first.substr(from.size())] = it->second;
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
    entries_.merge(moved);
  }

  std::optional<std::uint32_t> attributes(const std::wstring& path) override {
    const auto found = entries_.find(path);
    if (found == entries_.end()) return std::nullopt;
    return found->second.attributes;
  }
  std::unique_ptr<OpenedDirectory> open_root(const std::wstring& root, std::wstring& final_root) override {
    final_root = root;
    return open_directory(root);
  }
  std::unique_ptr<OpenedDirectory> open_directory(const std::wstring& path) override {
    if (const auto hook = before_open.find(path); hook != before_open.end()) hook->second(*this);
    // A handle opened through a link, or on a link the system follows, reaches another name.
    const auto found = entries_.find(path);
    if (found == entries_.end() || behind_a_link(path)) return nullptr;
    if ((found->second.attributes & link) != 0 && links == Links::followed) return nullptr;
    auto opened = std::make_unique<Handle>(*this, found->second.id);
    if (const auto hook = after_open.find(path); hook != after_open.end()) hook->second(*this);
    return opened;
  }
  [[nodiscard]] bool deletes_files_concurrently() const override { return concurrent; }
  // Runs on the deleting thread before each delete_file, outside the tree's lock.
  std::function<void()> before_delete;
  bool delete_file(const std::wstring& path, bool clear_blocking_attributes) override {
    if (before_delete) before_delete();
    const std::lock_guard lock(delete_mutex_);
    calls.push_back(L"delete " + path + (clear_blocking_attributes ? L" clearing" : L""));
    if (behind_a_link(path)) return false;
    const auto found = entries_.find(path);
    if (clear_blocking_attributes && found != entries_.end()) found->second.attributes &= ~attribute_read_only;
    return erase(path, false);
  }
  [[nodiscard]] std::vector<std::wstring> remaining() const {
    std::vector<std::wstring> names;
    for (const auto& entry : entries_) names.push_back(entry.first);
    return names;
  }

 private:
  struct Node {
    std::uint32_t attributes = 0;
    int id = 0;
  };

  class Handle final : public OpenedDirectory {
   public:
    Handle(ScriptedTree& tree, int id) : tree_(tree), id_(id) {}
    std::optional<std::uint32_t> attributes() override {
      const auto entry = tree_.entry_of(id_);
      if (entry == tree_.entries_.end()) return std::nullopt;
      return entry->second.attributes;
    }
    bool list(std::vector<DirectoryEntry>& out) override {
      const auto entry = tree_.entry_of(id_);
      if (entry == tree_.entries_.end()) return false;
      const std::wstring& path = entry->first;
      if ((entry->second.attributes & link) != 0) tree_.listed_links.push_back(path);
      for (const auto& [name, node] : tree_.entries_) {
        if (is_below(name, path) && name.find(L'\\', path.size() + 1) == std::wstring::npos) {
          out.push_back({name.substr(path.size() + 1), node.attributes});
        }
      }
      return true;
    }
    bool set_attributes(std::uint32_t attributes) override {
      const auto entry = tree_.entry_of(id_);
      if (entry == tree_.entries_.end()) return false;
      tree_.calls.push_back(L"attributes " + entry->first + L" " + std::to_wstring(attributes));
      // As on the system: whether it is a directory or a link does not change.
      entry->second.attributes = attributes | (entry->second.attributes & (directory | link));
      return true;
    }
    bool remove() override {
      const auto entry = tree_.entry_of(id_);
      if (entry == tree_.entries_.end()) return false;
      tree_.calls.push_back(L"remove " + entry->first);
      return tree_.erase(entry->first, true);
    }

   private:
    ScriptedTree& tree_;
    int id_;
  };

  static bool is_below(const std::wstring& path, const std::wstring& directory_path) {
    return path.size() > directory_path.size() + 1 && path.starts_with(directory_path + L"\\");
  }
  std::map<std::wstring, Node>::iterator entry_of(int id) {
    return std::find_if(entries_.begin(), entries_.end(), [id](const auto& entry) { return entry.second.id == id; });
  }
  bool behind_a_link(const std::wstring& path) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& entry) {
      return (entry.second.attributes & link) != 0 && is_below(path, entry.first);
    });
  }
  bool erase(std::wstring path, bool as_directory) {  // a copy: it may name the erased entry
    const auto found = entries_.find(path);
    if (found == entries_.end() || undeletable.contains(path)) return false;
    const std::uint32_t attributes = found->second.attributes;
    if ((attributes & attribute_read_only) != 0) return false;
    if (((attributes & directory) != 0) != as_directory) return false;
    const bool has_children =
        std::any_of(entries_.begin(), entries_.end(), [&](const auto& entry) { return is_below(entry.first, path); });
    const bool is_link = (attributes & link) != 0;
    if (as_directory && !is_link && has_children) return false;
    entries_.erase(found);
    // What was seen through a link is no longer seen there; its target itself is untouched.
    if (is_link) std::erase_if(entries_, [&](const auto& entry) { return is_below(entry.first, path); });
    return true;
  }

  std::map<std::wstring, Node> entries_;
  int last_id_ = 0;
  std::mutex delete_mutex_;
};

constexpr ScriptedTree::Links both_link_behaviours[] = {ScriptedTree::Links::opened_as_themselves,
                                                        ScriptedTree::Links::followed};

const char* label_of(ScriptedTree::Links links) {
  return links == ScriptedTree::Links::followed ? "links_followed_when_opened" : "links_opened_as_themselves";
}

// No call names what is seen through a link: the walk never lists a link.
void expect_nothing_behind_links_touched(const ScriptedTree& tree) {
  EXPECT_EQ(tree.listed_links, std::vector<std::wstring>{});
  for (const auto& call : tree.calls) EXPECT_EQ(call.find(L"behind"), std::wstring::npos) << call;
}

TEST(RemoveTree, WhatHappensToEachKindOfEntry) {
  struct Case {
    const char* label;
    std::initializer_list<std::pair<std::wstring, std::uint32_t>> entries;
    std::vector<std::wstring> remaining;
    bool gone;
    // Where the system follows a link opened as itself, the link cannot go and is left.
    std::vector<std::wstring> remaining_where_links_are_followed;
    bool gone_where_links_are_followed;
  };
  const Case cases[] = {
      {"nested_files_and_directories",
       {{L"R", directory}, {L"R\\a", file}, {L"R\\d", directory}, {L"R\\d\\e", directory}, {L"R\\d\\e\\f", file}},
       {},
       true,
       {},
       true},
      {"read_only_hidden_system",
       {{L"R", directory | attribute_read_only},
        {L"R\\ro", file | attribute_read_only},
        {L"R\\hs", attribute_hidden | attribute_system | attribute_read_only},
        {L"R\\d", directory | attribute_read_only}},
       {},
       true,
       {},
       true},
      {"links_are_removed_as_links_and_never_entered",
       {{L"R", directory},
        {L"R\\to_dir", directory | link},
        {L"R\\to_dir\\behind_file", file},
        {L"R\\to_file", file | link}},
       {},
       true,
       {L"R", L"R\\to_dir", L"R\\to_dir\\behind_file"},
       false},
      {"root_is_a_file", {{L"R", file | attribute_read_only}}, {}, true, {}, true},
      {"root_is_a_link",
       {{L"R", directory | link}, {L"R\\behind", file}},
       {},
       true,
       {L"R", L"R\\behind"},
       false},
      {"missing_root", {{L"other", file}}, {L"other"}, true, {L"other"}, true},
  };
  for (const auto& entry : cases) {
    for (const auto links : both_link_behaviours) {
      for (const bool concurrent : {false, true}) {
        SCOPED_TRACE(std::string(entry.label) + " " + label_of(links) + (concurrent ? " concurrent" : ""));
        ScriptedTree tree(entry.entries);
        tree.links = links;
        tree.concurrent = concurrent;
        const bool followed = links == ScriptedTree::Links::followed;
        EXPECT_EQ(remove_tree(L"R", tree), followed ? entry.gone_where_links_are_followed : entry.gone);
        EXPECT_EQ(tree.remaining(), followed ? entry.remaining_where_links_are_followed : entry.remaining);
        expect_nothing_behind_links_touched(tree);
      }
    }
  }
}

// Enough files in each directory for the helper threads to take part.
TEST(RemoveTree, OnSeveralThreadsEachFileIsDeletedOnceAndEachDirectoryAfterItsFiles) {
  for (const auto links : both_link_behaviours) {
    SCOPED_TRACE(label_of(links));
    ScriptedTree tree{{L"R", directory}, {L"R\\to_dir", directory | link}, {L"R\\to_dir\\behind_file", file}};
    tree.links = links;
    tree.concurrent = true;
    std::vector<std::wstring> files;
    for (const std::wstring folder : {L"R", L"R\\a", L"R\\b", L"R\\b\\c"}) {
      if (folder != L"R") tree.add(folder, directory);
      for (int i = 0; i < 25; ++i) {
        files.push_back(folder + L"\\f" + std::to_wstring(i));
        tree.add(files.back(), i % 5 == 0 ? file | attribute_read_only : file);
      }
    }
    tree.add(L"R\\b\\to_file", file | link);
    files.push_back(L"R\\b\\to_file");

    const bool followed = links == ScriptedTree::Links::followed;
    EXPECT_EQ(remove_tree(L"R", tree), !followed);
    EXPECT_EQ(tree.remaining(), followed ? (std::vector<std::wstring>{L"R", L"R\\to_dir", L"R\\to_dir\\behind_file"})
                                         : std::vector<std::wstring>{});
    std::map<std::wstring, int> deletes;
    for (const auto& call : tree.calls) {
      if (call.starts_with(L"delete ")) ++deletes[call.substr(7, call.find(L" clearing") - 7)];
    }
    EXPECT_EQ(deletes.size(), files.size());
    for (const auto& path : files) EXPECT_EQ(deletes[path], 1) << path;
    expect_nothing_behind_links_touched(tree);
  }
}

// Someone else moves `path` away and puts a link in its place, through which a read-only file
// and folder show with the names the directory's own entries had, and one more.
void replace_with_link(ScriptedTree& tree, const std::wstring& path) {
  tree.move(path, L"elsewhere");
  tree.swap_for_link(path, {{L"x", file | attribute_read_only},
                            {L"sub", directory | attribute_read_only},
                            {L"sub\\y", file},
                            {L"behind", file}});
}

std::vector<std::wstring> link_and_behind(const std::wstring& path) {
  return {path, path + L"\\behind", path + L"\\sub", path + L"\\sub\\y", path + L"\\x"};
}

std::vector<std::wstring> sorted(std::vector<std::wstring> first, const std::vector<std::wstring>& second) {
  first.insert(first.end(), second.begin(), second.end());
  std::sort(first.begin(), first.end());
  return first;
}

TEST(RemoveTree, ADirectorySwappedForALinkIsRemovedAsALinkOrLeftAndNothingBehindItChanges) {
  const std::vector<std::wstring> moved_directory = {L"elsewhere", L"elsewhere\\sub", L"elsewhere\\x"};
  const std::vector<std::wstring> moved_root = {L"elsewhere", L"elsewhere\\a", L"elsewhere\\d",
                                                L"elsewhere\\d\\sub", L"elsewhere\\d\\x"};
  struct Case {
    const char* label;
    void (*arrange)(ScriptedTree&);
    std::vector<std::wstring> remaining;
    bool gone;
    std::vector<std::wstring> remaining_where_links_are_followed;
  };
  const Case cases[] = {
      {"after_its_parent_was_listed",
       [](ScriptedTree& tree) { tree.before_open[L"R\\d"] = [](ScriptedTree& t) { replace_with_link(t, L"R\\d"); }; },
       moved_directory, true, sorted({L"R"}, sorted(link_and_behind(L"R\\d"), moved_directory))},
      {"after_the_walk_opened_it",
       [](ScriptedTree& tree) { tree.after_open[L"R\\d"] = [](ScriptedTree& t) { replace_with_link(t, L"R\\d"); }; },
       sorted({L"R"}, sorted(link_and_behind(L"R\\d"), moved_directory)), false,
       sorted({L"R"}, sorted(link_and_behind(L"R\\d"), moved_directory))},
      {"the_root_after_it_was_looked_at",
       [](ScriptedTree& tree) { tree.before_open[L"R"] = [](ScriptedTree& t) { replace_with_link(t, L"R"); }; },
       moved_root, true, sorted(link_and_behind(L"R"), moved_root)},
  };
  for (const auto& entry : cases) {
    for (const auto links : both_link_behaviours) {
      SCOPED_TRACE(std::string(entry.label) + " " + label_of(links));
      ScriptedTree tree{{L"R", directory},        {L"R\\a", file}, {L"R\\d", directory},
                        {L"R\\d\\sub", directory}, {L"R\\d\\x", file}};
      tree.links = links;
      entry.arrange(tree);
      const bool followed = links == ScriptedTree::Links::followed;
      EXPECT_EQ(remove_tree(L"R", tree), entry.gone && !followed);
      EXPECT_EQ(tree.remaining(), followed ? entry.remaining_where_links_are_followed : entry.remaining);
      expect_nothing_behind_links_touched(tree);
      for (const auto& path : tree.remaining()) {
        // Read-only as it was: nothing seen through the link had its attributes cleared.
        if (path.ends_with(L"\\x") || path.ends_with(L"\\sub")) {
          if (path.starts_with(L"elsewhere")) continue;
          EXPECT_NE(*tree.attributes(path) & attribute_read_only, 0u) << path;
        }
      }
    }
  }
}

TEST(RemoveTree, ClearsBlockingAttributesOfDirectoriesButNeverOfLinks) {
  for (const auto links : both_link_behaviours) {
    SCOPED_TRACE(label_of(links));
    ScriptedTree tree{{L"R", directory | attribute_read_only | 0x20},
                      {L"R\\f", attribute_read_only | attribute_hidden | 0x20},
                      {L"R\\plain", 0x20},
                      {L"R\\link", directory | link | attribute_hidden}};
    tree.links = links;
    if (links == ScriptedTree::Links::followed) {
      EXPECT_FALSE(remove_tree(L"R", tree));
      EXPECT_EQ(tree.calls, (std::vector<std::wstring>{L"attributes R 32", L"delete R\\f clearing",
                                                       L"delete R\\plain", L"remove R"}));
    } else {
      EXPECT_TRUE(remove_tree(L"R", tree));
      EXPECT_EQ(tree.calls, (std::vector<std::wstring>{L"attributes R 32", L"delete R\\f clearing",
                                                       L"remove R\\link", L"delete R\\plain", L"remove R"}));
    }
  }
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

// The helper threads may have deleted some of the directory's files by then; nothing further
// down is entered.
TEST(RemoveTree, StopsWhenOutOfTimeOnSeveralThreads) {
  ScriptedTree tree{{L"R", directory}, {L"R\\d", directory}, {L"R\\d\\x", file}, {L"R\\d\\y", file}};
  for (int i = 0; i < 40; ++i) tree.add(L"R\\f" + std::to_wstring(i), file);
  tree.concurrent = true;
  EXPECT_FALSE(remove_tree(L"R", tree, [] { return true; }));
  const std::vector<std::wstring> remaining = tree.remaining();
  for (const wchar_t* kept : {L"R", L"R\\d", L"R\\d\\x", L"R\\d\\y"}) {
    EXPECT_NE(std::find(remaining.begin(), remaining.end(), kept), remaining.end()) << kept;
  }
}

thread_local bool asked_since_last_deletion = false;

// A pruning stops when a newer run marks the cache folder in use, and a sweep while waiting
// when the wait ends: each thread asks before every file it deletes, so no helper goes on
// deleting once the answer has changed.
TEST(RemoveTree, OnSeveralThreadsEveryDeletionAsksFirst) {
  ScriptedTree tree{{L"R", directory}};
  for (int i = 0; i < 200; ++i) tree.add(L"R\\f" + std::to_wstring(i), file);
  tree.concurrent = true;
  std::atomic<int> unasked{0};
  std::mutex mutex;
  std::condition_variable second_thread_came;
  std::set<std::thread::id> deleting;
  tree.before_delete = [&] {
    if (!asked_since_last_deletion) ++unasked;
    asked_since_last_deletion = false;
    std::unique_lock lock(mutex);
    deleting.insert(std::this_thread::get_id());
    second_thread_came.notify_all();
    // The first deletion waits for a helper to take part, so that helpers surely delete.
    second_thread_came.wait_for(lock, std::chrono::seconds(10), [&] { return deleting.size() > 1; });
  };
  EXPECT_TRUE(remove_tree(L"R", tree, [] {
    asked_since_last_deletion = true;
    return false;
  }));
  EXPECT_EQ(tree.remaining(), std::vector<std::wstring>{});
  EXPECT_GT(deleting.size(), 1u);
  EXPECT_EQ(unasked.load(), 0);
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
  // An empty target is what a removal by path would take instead of the link.
  make_directory((area.outside() / L"empty").wstring());
  const testing::UnixLink empty_link(root + L"\\sub\\to_empty", (area.outside() / L"empty").wstring());
  ASSERT_TRUE(directory_link.made() && file_link.made() && empty_link.made()) << "no Unix links can be made here";

  (void)remove_tree(extended_length_path(root), system_file_tree_operations());

  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  // Windows removes a link itself; Wine cannot, so the directory link and its parents stay.
  EXPECT_FALSE(exists(root + L"\\plain.txt"));
  EXPECT_FALSE(exists(root + L"\\sub\\plain.txt"));
  if (exists(root)) {
    EXPECT_TRUE(names_in(root) == std::vector<std::wstring>{L"sub"} ||
                names_in(root) == (std::vector<std::wstring>{L"sub", L"to_file"}));
    EXPECT_EQ(names_in(root + L"\\sub"), (std::vector<std::wstring>{L"to_directory", L"to_empty"}));
  }
  EXPECT_TRUE(exists((area.outside() / L"empty").wstring()));
}

// Directories with enough files for the walk to delete them on several threads, links among them.
TEST_F(RealTreeRemoval, FilesDeletedOnSeveralThreadsNeverReachALinksTarget) {
  make_directory(root);
  std::vector<std::unique_ptr<testing::UnixLink>> links;
  for (const std::wstring& folder : {root, root + L"\\a", root + L"\\a\\b", root + L"\\c"}) {
    if (folder != root) make_directory(folder);
    for (int i = 0; i < 40; ++i) {
      make_file(folder + L"\\file" + std::to_wstring(i) + L".txt", i % 7 == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
      if (i % 10 == 5) {
        links.push_back(std::make_unique<testing::UnixLink>(folder + L"\\link" + std::to_wstring(i),
                                                            (area.outside() / L"canary.txt").wstring()));
        ASSERT_TRUE(links.back()->made()) << "no Unix links can be made here";
      }
    }
  }

  (void)remove_tree(extended_length_path(root), system_file_tree_operations());

  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  // Windows removes the links too; Wine follows them, so they stay with their folders.
  for (const std::wstring& folder : {root, root + L"\\a", root + L"\\a\\b", root + L"\\c"}) {
    if (!exists(folder)) continue;
    for (const auto& name : names_in(folder)) EXPECT_TRUE(name.starts_with(L"link") || name == L"a" || name == L"b" || name == L"c") << name;
  }
}

// Someone else replaces a directory of the tree with a Unix link to a folder outside, just before
// or just after the walk opens it: the real walk with the move and the link made at that moment.
class RealSwapForALink : public RealTreeRemoval {
 protected:
  struct SwappingOperations final : FileTreeOperations {
    FileTreeOperations& real = system_file_tree_operations();
    std::wstring leaf;  // of the walked path to swap
    bool after_open = false;
    std::function<void()> swap;

    std::optional<std::uint32_t> attributes(const std::wstring& path) override { return real.attributes(path); }
    std::unique_ptr<OpenedDirectory> open_root(const std::wstring& root, std::wstring& final_root) override {
      swap_if(root, false);
      auto opened = real.open_root(root, final_root);
      swap_if(root, true);
      return opened;
    }
    std::unique_ptr<OpenedDirectory> open_directory(const std::wstring& path) override {
      swap_if(path, false);
      auto opened = real.open_directory(path);
      swap_if(path, true);
      return opened;
    }
    bool delete_file(const std::wstring& path, bool clear_blocking_attributes) override {
      return real.delete_file(path, clear_blocking_attributes);
    }
    void swap_if(const std::wstring& path, bool opened) {
      if (swap && opened == after_open && path.ends_with(leaf)) std::exchange(swap, nullptr)();
    }
  };

  // Outside the tree: a file and an empty folder with the names the swapped directory holds,
  // and a read-only file.
  void make_target() {
    make_directory(target);
    area.add_canary(std::filesystem::path(target) / L"inner.txt");
    make_directory(target + L"\\deeper");
    make_file(target + L"\\read_only.txt", FILE_ATTRIBUTE_READONLY);
  }
  void expect_target_whole() {
    EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
    EXPECT_EQ(names_in(target), (std::vector<std::wstring>{L"deeper", L"inner.txt", L"read_only.txt"}));
    EXPECT_NE(GetFileAttributesW((target + L"\\read_only.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  }
  void make_tree() {
    make_directory(root);
    make_file(root + L"\\plain.txt");
    make_directory(root + L"\\sub");
    make_file(root + L"\\sub\\inner.txt");
    make_directory(root + L"\\sub\\deeper");
    make_file(root + L"\\sub\\read_only.txt", FILE_ATTRIBUTE_READONLY);
  }

  std::wstring target = (area.outside() / L"target").wstring();
  std::unique_ptr<testing::UnixLink> link;
};

TEST_F(RealSwapForALink, TheTargetStaysWhole) {
  struct Case {
    const char* label;
    const wchar_t* swapped;  // relative to the area's work folder
    bool after_open;
  };
  const Case cases[] = {
      {"directory_after_its_parent_was_listed", L"onefile_1_2\\sub", false},
      {"directory_after_the_walk_opened_it", L"onefile_1_2\\sub", true},
      {"root_after_it_was_looked_at", L"onefile_1_2", false},
  };
  make_target();
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    make_tree();
    const std::wstring swapped = (area.work() / entry.swapped).wstring();
    const std::wstring moved = (area.work() / L"moved").wstring();
    SwappingOperations system;
    system.leaf = std::wstring(L"\\") + std::filesystem::path(swapped).filename().wstring();
    system.after_open = entry.after_open;
    system.swap = [&] {
      ASSERT_TRUE(MoveFileW(swapped.c_str(), moved.c_str())) << GetLastError();
      link = std::make_unique<testing::UnixLink>(swapped, target);
      ASSERT_TRUE(link->made()) << "no Unix links can be made here";
    };

    (void)remove_tree(extended_length_path(root), system);

    EXPECT_EQ(system.swap, nullptr) << "the walk never opened the swapped directory";
    expect_target_whole();
    link.reset();
    // Cleared for the next case by the walk with nothing swapped.
    EXPECT_TRUE(remove_tree(extended_length_path(moved), system_file_tree_operations()));
    EXPECT_TRUE(remove_tree(extended_length_path(root), system_file_tree_operations()));
    EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
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

// Sealing cached files on several threads: the failure reported is the earliest entry's with its
// own code, whatever order the threads fail in, and a thread that cannot start ends the run
// with the memory message.
#include "launcher/cache/cached_files.h"

#include <gtest/gtest.h>

#include <io.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

namespace osvari {
namespace {

CacheIndex index_of(int entries) {
  CacheIndex index{L"0123456789abcdef", {}};
  for (int i = 0; i < entries; ++i) index.entries.push_back({L"f" + std::to_wstring(i), 1});
  return index;
}

// Fails the scripted entries with their codes; a failure may wait until another entry's has
// been returned, which forces the order the threads fail in.
class ScriptedSealing final : public SealOperations {
 public:
  std::map<std::wstring, std::uint32_t> failing;       // path -> code
  std::map<std::wstring, std::wstring> fails_after;    // path -> the path whose failure comes first
  int threads_that_start = 100;

  bool seal(const std::wstring& path, std::uint32_t& error) override {
    std::unique_lock lock(mutex_);
    sealed_.insert(path);
    const auto code = failing.find(path);
    if (code == failing.end()) return true;
    if (const auto first = fails_after.find(path); first != fails_after.end()) {
      returned_.wait_for(lock, std::chrono::seconds(10), [&] { return failed_.contains(first->second); });
    }
    failed_.insert(path);
    returned_.notify_all();
    error = code->second;
    return false;
  }
  std::thread start_thread(std::function<void()> work) override {
    if (threads_that_start-- <= 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(work));
  }
  [[nodiscard]] std::size_t sealed() {
    const std::lock_guard lock(mutex_);
    return sealed_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable returned_;
  std::set<std::wstring> sealed_;
  std::set<std::wstring> failed_;
};

TEST(SealCachedFiles, ReportsTheEarliestEntrysFailureWithItsOwnCode) {
  struct Case {
    const char* label;
    std::map<std::wstring, std::uint32_t> failing;
    std::map<std::wstring, std::wstring> fails_after;
    std::size_t entry;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"one", {{L"F\\f7", 112}}, {}, 7, 112},
      {"the_earlier_fails_first", {{L"F\\f3", 5}, {L"F\\f150", 32}}, {{L"F\\f150", L"F\\f3"}}, 3, 5},
      {"the_earlier_fails_last", {{L"F\\f3", 5}, {L"F\\f150", 32}}, {{L"F\\f3", L"F\\f150"}}, 3, 5},
      {"three_in_reverse", {{L"F\\f1", 1}, {L"F\\f90", 90}, {L"F\\f180", 180}},
       {{L"F\\f1", L"F\\f90"}, {L"F\\f90", L"F\\f180"}}, 1, 1},
  };
  const CacheIndex index = index_of(200);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ScriptedSealing system;
    system.failing = test.failing;
    system.fails_after = test.fails_after;
    const SealResult result = seal_files(L"F", index, nullptr, system);
    EXPECT_TRUE(result.threads_started);
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->entry, test.entry);
    EXPECT_EQ(result.failure->code, test.code);
    EXPECT_EQ(system.sealed(), index.entries.size());
  }
}

TEST(SealCachedFiles, SealsOnlyTheMarkedEntries) {
  const CacheIndex index = index_of(64);
  std::vector<bool> which(64, false);
  for (std::size_t i = 0; i < which.size(); i += 3) which[i] = true;
  ScriptedSealing system;
  system.failing = {{L"F\\f1", 2}};  // not marked: never sealed, never failing
  const SealResult result = seal_files(L"F", index, &which, system);
  EXPECT_FALSE(result.failure);
  EXPECT_EQ(system.sealed(), 22u);
}

TEST(SealCachedFilesDeathTest, AThreadThatCannotStartEndsTheRunWithTheMemoryMessage) {
  const CacheIndex index = index_of(200);
  ScriptedSealing system;
  system.threads_that_start = 2;
  const SealResult result = seal_files(L"F", index, nullptr, system);
  EXPECT_FALSE(result.threads_started);
  // The message goes to standard output, which the death test cannot read: it is sent to
  // standard error there.
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        _dup2(_fileno(stderr), _fileno(stdout));
        ScriptedSealing failing;
        failing.threads_that_start = 2;
        seal_cached_files(L"F", index, nullptr, failing);
      },
      ::testing::ExitedWithCode(2), "^Error, couldn't allocate memory\\.");
}

}  // namespace
}  // namespace osvari

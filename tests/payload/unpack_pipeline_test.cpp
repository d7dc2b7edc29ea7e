// The order and the failures of unpacking on two threads, over a scripted file system: files are
// created, written and closed in stream order, and whichever thread fails, the failure reported
// is the one a serial unpacking would have met first.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <chrono>
#include <limits>
#include <map>
#include <thread>

#include "base/shared_state.h"
#include "payload/attached_data_reader.h"
#include "payload/unpack.h"
#include "tests/support/payload_builder.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::testing {
namespace {

using Kind = UnpackFailure::Kind;

constexpr std::uint32_t disk_full = 112;  // ERROR_DISK_FULL

struct Script {
  std::wstring fail_create;  // the file whose creation fails
  std::uint64_t disk_bytes = std::numeric_limits<std::uint64_t>::max();  // written before the disk is full
  bool hold_writer_until_decoder_ends = false;
};

Script fails_to_create(const wchar_t* name) {
  Script script;
  script.fail_create = name;
  return script;
}

Script disk_of(std::uint64_t bytes) {
  Script script;
  script.disk_bytes = bytes;
  return script;
}

// The writer's first file waits until the decoder has passed on everything it will.
Script held(Script script) {
  script.hold_writer_until_decoder_ends = true;
  return script;
}

// What the writer did to one file, in the order files were created.
struct FileRecord {
  std::wstring name;
  std::vector<std::uint32_t> writes;
  std::string contents;
  bool closed = false;
};

void wait_until(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class ScriptedTargets final : public UnpackTargets {
 public:
  ScriptedTargets(Script script, WriteQueue& queue) : script_(std::move(script)), queue_(queue) {}

  void make_parent_directory(const wchar_t*) override {}
  bool create(const wchar_t* target_path) override {
    if (script_.hold_writer_until_decoder_ends && files.empty()) wait_until([this] { return queue_.input_closed(); });
    std::wstring name(target_path);
    name = name.substr(name.find_last_of(L'\\') + 1);
    files.push_back({name, {}, {}, false});
    create_entered = true;
    if (name == script_.fail_create) return false;
    open_ = true;
    return true;
  }
  bool write(const unsigned char* data, std::uint32_t length) override {
    EXPECT_TRUE(open_) << "a write with no file open";
    if (written_ + length > script_.disk_bytes) return false;
    written_ += length;
    FileRecord& file = files.back();
    file.writes.push_back(length);
    file.contents.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::uint32_t error_code() override { return disk_full; }
  void close() override {
    if (open_) files.back().closed = true;
    open_ = false;
  }

  std::vector<FileRecord> files;
  std::atomic<bool> create_entered{false};
  [[nodiscard]] bool has_open_file() const { return open_; }

 private:
  Script script_;
  WriteQueue& queue_;
  bool open_ = false;
  std::uint64_t written_ = 0;
};

const std::string big = varied_bytes(3 * 1048576 + 5, 3);

std::vector<TestEntry> four_entries() {
  return {{u"main.dll", varied_bytes(1000, 1)},
          {u"a\\small.txt", varied_bytes(2000, 2)},
          {u"big.bin", big},
          {u"b\\c\\last.txt", "0123456789"}};
}

// The entries' decoded stream cut after `decoded_bytes`, then bytes that begin no frame: the
// decoder fails right there.
std::string damaged_after(std::size_t decoded_bytes) {
  const std::string decoded = decoded_stream(four_entries()).substr(0, decoded_bytes);
  return pack::wrap_attached_data(pack::compress_frame(decoded, {.level = 1}) + "not a frame at all");
}

std::size_t prefix_length(std::size_t entries) {
  std::vector<TestEntry> before = four_entries();
  before.resize(entries);
  return decoded_stream(before, false).size();
}

struct PipelineCase {
  const char* title;
  std::string attached;
  Script script;
  Kind kind;
  std::uint64_t entry;  // of the failure
  std::vector<std::wstring> whole;  // files written completely and closed
  std::vector<std::wstring> never_created;
};

std::vector<PipelineCase> pipeline_cases() {
  const std::string intact = attached_data_for(four_entries());
  // Inside the last entry's name, and 2 MiB into big.bin's contents.
  const std::string in_last_name = damaged_after(prefix_length(3) + 6);
  const std::string in_big_contents = damaged_after(prefix_length(2) + 2 + 2 * 7 + 8 + 2 * 1048576);
  return {
      {"every entry, in order", intact, {}, Kind::none, 0, {L"main.dll", L"small.txt", L"big.bin", L"last.txt"}, {}},
      {"the last entry cannot be created", intact, fails_to_create(L"last.txt"), Kind::open, 3,
       {L"main.dll", L"small.txt", L"big.bin"}, {}},
      {"the disk fills in the middle of a file", intact, disk_of(3000 + 1536 * 1024), Kind::write, 2,
       {L"main.dll", L"small.txt"}, {L"last.txt"}},
      {"the decoder fails while the writer is busy: what came before is written", in_last_name,
       held(Script{}), Kind::decode, 3, {L"main.dll", L"small.txt", L"big.bin"},
       {L"last.txt"}},
      {"the writer fails before the decoder's later failure", in_last_name,
       held(fails_to_create(L"small.txt")), Kind::open, 1, {L"main.dll"},
       {L"big.bin", L"last.txt"}},
      {"the decoder fails inside a file's contents", in_big_contents, {}, Kind::decode, 2,
       {L"main.dll", L"small.txt"}, {L"last.txt"}},
      {"the disk fills before the decoder fails", in_big_contents, held(disk_of(2500)),
       Kind::write, 1, {L"main.dll"}, {L"big.bin", L"last.txt"}},
  };
}

class Pipeline : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(Pipeline, ReportsTheFailureASerialUnpackingMeetsFirst) {
  const PipelineCase& test = GetParam();
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  open_attached_data(as_resource(test.attached));
  WriteQueue queue;
  ScriptedTargets targets(test.script, queue);
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, targets);
  close_attached_data();

  EXPECT_EQ(failure.kind, test.kind);
  if (test.kind != Kind::none) {
    EXPECT_EQ(failure.entry, test.entry);
  }
  if (test.kind == Kind::open) {
    EXPECT_TRUE(failure.path.starts_with(L"C:\\scripted\\") && failure.path.ends_with(L"\\" + test.script.fail_create));
  }
  if (test.kind == Kind::write) {
    EXPECT_EQ(failure.code, disk_full);
  }
  EXPECT_FALSE(targets.has_open_file()) << "the writer ends with its file closed";

  std::map<std::wstring, std::string> expected;
  for (const TestEntry& entry : four_entries()) {
    const std::wstring name(entry.name.begin(), entry.name.end());
    expected[name.substr(name.find_last_of(L'\\') + 1)] = entry.contents;
  }
  // Files come in stream order, each created once.
  const std::vector<std::wstring> order = {L"main.dll", L"small.txt", L"big.bin", L"last.txt"};
  for (std::size_t i = 0; i < targets.files.size(); ++i) {
    ASSERT_LT(i, order.size());
    EXPECT_EQ(targets.files[i].name, order[i]);
  }
  for (const std::wstring& name : test.whole) {
    const auto file = std::find_if(targets.files.begin(), targets.files.end(),
                                   [&](const FileRecord& record) { return record.name == name; });
    ASSERT_NE(file, targets.files.end()) << std::string(name.begin(), name.end());
    EXPECT_EQ(file->contents, expected[name]) << std::string(name.begin(), name.end());
    EXPECT_TRUE(file->closed);
    for (std::uint32_t write : file->writes) EXPECT_LE(write, write_block_bytes);
    // Small files go in one call.
    if (expected[name].size() <= write_block_bytes) {
      EXPECT_EQ(file->writes.size(), 1u);
    }
  }
  for (const std::wstring& name : test.never_created) {
    for (const FileRecord& file : targets.files) EXPECT_NE(file.name, name);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Pipeline, ::testing::ValuesIn(pipeline_cases()),
                         [](const ::testing::TestParamInfo<PipelineCase>& info) {
                           std::string name;
                           for (const char* c = info.param.title; *c != '\0'; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

TEST(PipelineStop, EndsTheWriterWithItsFileClosedAndNothingReported) {
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  const std::string attached = attached_data_for(four_entries());
  open_attached_data(as_resource(attached));
  WriteQueue queue;
  // Created files wait for the stop, as a console event comes while a file is being written.
  class HeldTargets final : public UnpackTargets {
   public:
    explicit HeldTargets(WriteQueue& queue) : queue_(queue) {}
    void make_parent_directory(const wchar_t*) override {}
    bool create(const wchar_t*) override {
      ++created;
      open = true;
      entered = true;
      wait_until([this] { return queue_.stop_requested(); });
      return true;
    }
    bool write(const unsigned char*, std::uint32_t) override { return true; }
    std::uint32_t error_code() override { return 0; }
    void close() override { open = false; }
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
    int created = 0;

   private:
    WriteQueue& queue_;
  } targets(queue);

  bool open_after_stop = true;
  std::thread console_event([&] {
    wait_until([&] { return targets.entered.load(); });
    queue.stop_writer_and_wait();
    open_after_stop = targets.open;
  });
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, targets);
  console_event.join();
  close_attached_data();
  EXPECT_EQ(failure.kind, Kind::stopped);
  EXPECT_FALSE(open_after_stop) << "the stop returns once the file is closed";
  EXPECT_EQ(targets.created, 1);
}

// An entry past 4 GiB goes through whole: sizes and positions are never taken modulo 2^32.
TEST(PipelineSizes, AnEntryPast4GiBIsWrittenWholeAndInPlace) {
  constexpr std::uint64_t huge = (std::uint64_t{1} << 32) + 3 * 1048576 + 7;
  const std::string attached =
      attached_data_generated({{u"main.dll", 100}, {u"huge.bin", huge}, {u"after.txt", 5}});
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  open_attached_data(as_resource(attached));
  // Checks each write's first and last byte against its place in the entry.
  class CheckingTargets final : public UnpackTargets {
   public:
    void make_parent_directory(const wchar_t*) override {}
    bool create(const wchar_t* path) override {
      names.emplace_back(path);
      sizes.push_back(0);
      return true;
    }
    bool write(const unsigned char* data, std::uint32_t length) override {
      std::uint64_t& offset = sizes.back();
      if (static_cast<char>(data[0]) != generated_byte(offset) ||
          static_cast<char>(data[length - 1]) != generated_byte(offset + length - 1)) {
        ++misplaced;
      }
      offset += length;
      return true;
    }
    std::uint32_t error_code() override { return 0; }
    void close() override {}
    std::vector<std::wstring> names;
    std::vector<std::uint64_t> sizes;
    int misplaced = 0;
  } targets;
  WriteQueue queue;
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, targets);
  close_attached_data();
  EXPECT_EQ(failure.kind, Kind::none);
  ASSERT_EQ(targets.names.size(), 3u);
  EXPECT_EQ(targets.names[1], L"C:\\scripted\\huge.bin");
  EXPECT_EQ(targets.sizes, (std::vector<std::uint64_t>{100, huge, 5}));
  EXPECT_EQ(targets.misplaced, 0);
}

}  // namespace
}  // namespace osvari::testing

// The order and the failures of unpacking on a decoding thread and one or two writers, over a
// scripted file system: each file is created once and written in order, one writer writes in
// stream order, and whichever thread fails, the failure reported is the one a serial unpacking
// would have met first.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/shared_state.h"
#include "payload/attached_data_reader.h"
#include "payload/unpack.h"
#include "payload/unpack_pipeline.h"
#include "tests/support/payload_builder.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::testing {
namespace {

using Kind = UnpackFailure::Kind;

constexpr std::uint32_t disk_full = 112;  // ERROR_DISK_FULL

struct Script {
  std::set<std::wstring> fail_create;  // files whose creation fails
  std::uint64_t disk_bytes = std::numeric_limits<std::uint64_t>::max();  // written before the disk is full
  bool hold_writer_until_decoder_ends = false;
  std::wstring wait_for_a_failure;  // this file's creation waits until a writer has failed
  std::wstring wait_for_another_writer;  // this file's creation waits until another writer created one
  std::map<std::wstring, std::wstring> waits_for_creation_of;  // a file's creation waits until another's began
};

Script fails_to_create(std::set<std::wstring> names) {
  Script script;
  script.fail_create = std::move(names);
  return script;
}

Script disk_of(std::uint64_t bytes) {
  Script script;
  script.disk_bytes = bytes;
  return script;
}

// The writers' first file waits until the decoder has passed on everything it will.
Script held(Script script) {
  script.hold_writer_until_decoder_ends = true;
  return script;
}

// `name`'s creation waits until another writer has failed.
Script waiting(Script script, const wchar_t* name) {
  script.wait_for_a_failure = name;
  return script;
}

// `name`'s creation waits until `other`'s has begun.
Script after(Script script, const wchar_t* name, const wchar_t* other) {
  script.waits_for_creation_of[name] = other;
  return script;
}

// What the writers did to one file, in the order files were created.
struct FileRecord {
  std::wstring name;
  std::vector<std::uint32_t> writes;
  std::string contents;
  bool closed = false;
  WriterId writer = 0;
};

void wait_until(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The file system all writers share, following a script.
class ScriptedDisk {
 public:
  ScriptedDisk(Script script, WriteQueue& queue) : script_(std::move(script)), queue_(queue) {}

  // The file's place in `files`, or nothing when its creation fails.
  std::optional<std::size_t> create(const wchar_t* target_path, WriterId writer) {
    std::wstring name(target_path);
    name = name.substr(name.find_last_of(L'\\') + 1);
    if (script_.hold_writer_until_decoder_ends && !created_any_.exchange(true)) {
      wait_until([this] { return queue_.input_closed(); });
    }
    {
      const std::lock_guard lock(mutex_);
      begun_.insert(name);
    }
    if (const auto other = script_.waits_for_creation_of.find(name); other != script_.waits_for_creation_of.end()) {
      wait_until([&] {
        const std::lock_guard lock(mutex_);
        return begun_.contains(other->second);
      });
    }
    if (name == script_.wait_for_a_failure) {
      wait_until([this] { return queue_.failed_before(std::numeric_limits<std::uint64_t>::max()); });
    }
    if (name == script_.wait_for_another_writer) {
      wait_until([&] {
        const std::lock_guard lock(mutex_);
        return std::any_of(files.begin(), files.end(), [&](const FileRecord& file) { return file.writer != writer; });
      });
    }
    const std::lock_guard lock(mutex_);
    files.push_back({name, {}, {}, false, writer});
    if (script_.fail_create.contains(name)) return std::nullopt;
    return files.size() - 1;
  }
  bool write(std::size_t file, const unsigned char* data, std::uint32_t length) {
    const std::lock_guard lock(mutex_);
    if (written_ + length > script_.disk_bytes) return false;
    written_ += length;
    files[file].writes.push_back(length);
    files[file].contents.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  void close(std::size_t file) {
    const std::lock_guard lock(mutex_);
    files[file].closed = true;
  }

  std::vector<FileRecord> files;

 private:
  Script script_;
  WriteQueue& queue_;
  std::mutex mutex_;
  std::uint64_t written_ = 0;
  std::atomic<bool> created_any_{false};
  std::set<std::wstring> begun_;
};

// One writer's view of the scripted disk.
class ScriptedTargets final : public UnpackTargets {
 public:
  ScriptedTargets(ScriptedDisk& disk, WriterId writer) : disk_(disk), writer_(writer) {}

  void make_parent_directory(const wchar_t*) override {}
  bool create(const wchar_t* target_path) override {
    EXPECT_FALSE(open_) << "a file created while another is open";
    open_ = disk_.create(target_path, writer_);
    return open_.has_value();
  }
  bool write(const unsigned char* data, std::uint32_t length) override {
    EXPECT_TRUE(open_) << "a write with no file open";
    return open_ && disk_.write(*open_, data, length);
  }
  std::uint32_t error_code() override { return disk_full; }
  void close() override {
    if (open_) disk_.close(*open_);
    open_.reset();
  }
  [[nodiscard]] bool has_open_file() const { return open_.has_value(); }

 private:
  ScriptedDisk& disk_;
  WriterId writer_;
  std::optional<std::size_t> open_;
};

// A scripted disk and `count` writers over it.
struct ScriptedWriters {
  ScriptedWriters(const Script& script, WriteQueue& queue, std::size_t count) : disk(script, queue) {
    for (WriterId writer = 0; writer < count; ++writer) targets.push_back(std::make_unique<ScriptedTargets>(disk, writer));
    for (const auto& target : targets) pointers.push_back(target.get());
  }
  [[nodiscard]] bool any_file_open() const {
    return std::any_of(targets.begin(), targets.end(), [](const auto& target) { return target->has_open_file(); });
  }

  ScriptedDisk disk;
  std::vector<std::unique_ptr<ScriptedTargets>> targets;
  std::vector<UnpackTargets*> pointers;
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

// Six files of 400 KiB: two to a block, so the three blocks can go to different writers.
std::vector<TestEntry> six_files() {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 6; ++i) {
    const std::string name = std::string("f").append(std::to_string(i));
    entries.push_back({std::u16string(name.begin(), name.end()), varied_bytes(400 * 1024, 10 + i)});
  }
  return entries;
}

// Two entries that Windows takes for one file, or one for a folder on the other's path, with a
// filler between them. The first of a 900 KiB and a 100 KiB copy of one name fills most of a
// block and the filler starts the next, so the copies would go to two writers at once.
std::vector<TestEntry> with_a_repeat(std::u16string first, std::u16string repeated) {
  return {{u"main.dll", varied_bytes(1000, 1)},
          {std::move(first), varied_bytes(900 * 1024, 2)},
          {u"filler.bin", varied_bytes(300 * 1024, 3)},
          {std::move(repeated), varied_bytes(100 * 1024, 4)}};
}

constexpr std::size_t any_count = 0;

struct PipelineCase {
  const char* title;
  std::vector<TestEntry> entries;
  std::string attached;
  Script script;
  Kind kind;
  std::uint64_t entry;  // of the failure
  std::vector<std::wstring> whole;  // files written completely and closed
  std::vector<std::wstring> never_created;
  std::size_t only_with_writers = any_count;  // the script needs this many writers
};

std::vector<PipelineCase> pipeline_cases() {
  const std::string intact = attached_data_for(four_entries());
  // Inside the last entry's name, and 2 MiB into big.bin's contents.
  const std::string in_last_name = damaged_after(prefix_length(3) + 6);
  const std::string in_big_contents = damaged_after(prefix_length(2) + 2 + 2 * 7 + 8 + 2 * 1048576);
  const std::string six = attached_data_for(six_files());
  const auto repeat_case = [](const char* title, std::u16string first, std::u16string repeated,
                              std::vector<std::wstring> whole, std::vector<std::wstring> never_created) {
    std::vector<TestEntry> entries = with_a_repeat(std::move(first), std::move(repeated));
    std::string attached = attached_data_for(entries);
    return PipelineCase{title, std::move(entries), std::move(attached), {}, Kind::repeated_name, 3,
                        std::move(whole), std::move(never_created)};
  };
  return {
      // The repeated entry never reaches a writer: the earlier copy is the only one created.
      repeat_case("a name again is refused before a writer sees it", u"same.bin", u"same.bin",
                  {L"main.dll", L"same.bin", L"filler.bin"}, {}),
      repeat_case("a name again in another letter case", u"Same.bin", u"SAME.BIN",
                  {L"main.dll", L"Same.bin", L"filler.bin"}, {L"SAME.BIN"}),
      repeat_case("a name again in another letter case beyond ASCII", u"\u00e9t\u00e9\\\u0436.txt",
                  u"\u00c9T\u00c9\\\u0416.TXT", {L"main.dll", L"\u0436.txt", L"filler.bin"}, {L"\u0416.TXT"}),
      repeat_case("a file, then a folder of that name", u"a", u"A\\b", {L"main.dll", L"a", L"filler.bin"}, {L"b"}),
      repeat_case("a folder, then a file of that name", u"a\\b", u"a", {L"main.dll", L"b", L"filler.bin"}, {L"a"}),
      repeat_case("a deeper file below a file", u"a\\b", u"a\\B\\c\\d", {L"main.dll", L"b", L"filler.bin"},
                  {L"d"}),
      {"every entry, in order", four_entries(), intact, {}, Kind::none, 0,
       {L"main.dll", L"small.txt", L"big.bin", L"last.txt"}, {}},
      {"the last entry cannot be created", four_entries(), intact, fails_to_create({L"last.txt"}), Kind::open, 3,
       {L"main.dll", L"small.txt", L"big.bin"}, {}},
      {"the disk fills in the middle of a file", four_entries(), intact, disk_of(3000 + 1536 * 1024), Kind::write, 2,
       {L"main.dll", L"small.txt"}, {L"last.txt"}},
      {"the decoder fails while the writer is busy: what came before is written", four_entries(), in_last_name,
       held(Script{}), Kind::decode, 3, {L"main.dll", L"small.txt", L"big.bin"}, {L"last.txt"}},
      {"the writer fails before the decoder's later failure", four_entries(), in_last_name,
       held(fails_to_create({L"small.txt"})), Kind::open, 1, {L"main.dll"}, {L"big.bin", L"last.txt"}},
      {"the decoder fails inside a file's contents", four_entries(), in_big_contents, {}, Kind::decode, 2,
       {L"main.dll", L"small.txt"}, {L"last.txt"}},
      {"the disk fills before the decoder fails", four_entries(), in_big_contents, held(disk_of(2500)), Kind::write,
       1, {L"main.dll"}, {L"big.bin", L"last.txt"}},
      {"every file of blocks on both writers", six_files(), six, {}, Kind::none, 0,
       {L"f0", L"f1", L"f2", L"f3", L"f4", L"f5"}, {}},
      {"a later entry fails first on one writer, an earlier one then on the other", six_files(), six,
       waiting(fails_to_create({L"f1", L"f3"}), L"f1"), Kind::open, 1, {L"f0", L"f2"}, {L"f4", L"f5"}, 2},
      {"after an earlier entry fails, the other writer leaves its later ones", six_files(), six,
       after(waiting(fails_to_create({L"f1"}), L"f2"), L"f1", L"f2"), Kind::open, 1, {L"f0"}, {L"f3", L"f4", L"f5"},
       2},
  };
}

struct PipelineRun {
  PipelineCase test;
  std::size_t writers;
};

std::vector<PipelineRun> pipeline_runs() {
  std::vector<PipelineRun> runs;
  for (const std::size_t writers : {std::size_t{1}, std::size_t{2}}) {
    for (const PipelineCase& test : pipeline_cases()) {
      if (test.only_with_writers == any_count || test.only_with_writers == writers) runs.push_back({test, writers});
    }
  }
  return runs;
}

std::wstring last_component(const std::u16string& name) {
  const std::wstring wide(name.begin(), name.end());
  return wide.substr(wide.find_last_of(L'\\') + 1);
}

class Pipeline : public ::testing::TestWithParam<PipelineRun> {};

TEST_P(Pipeline, ReportsTheFailureASerialUnpackingMeetsFirst) {
  const PipelineCase& test = GetParam().test;
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  open_attached_data(as_resource(test.attached));
  WriteQueue queue;
  ScriptedWriters writers(test.script, queue, GetParam().writers);
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, writers.pointers);
  close_attached_data();

  EXPECT_EQ(failure.kind, test.kind);
  if (test.kind != Kind::none) {
    EXPECT_EQ(failure.entry, test.entry);
  }
  if (test.kind == Kind::open) {
    const std::wstring& name = last_component(test.entries[test.entry].name);
    EXPECT_TRUE(failure.path.starts_with(L"C:\\scripted\\") && failure.path.ends_with(L"\\" + name));
  }
  if (test.kind == Kind::write) {
    EXPECT_EQ(failure.code, disk_full);
  }
  EXPECT_FALSE(writers.any_file_open()) << "each writer ends with its file closed";

  std::map<std::wstring, std::string> expected;
  std::map<std::wstring, std::size_t> place;
  // A name's first entry is the one written.
  for (const TestEntry& entry : test.entries) {
    place.try_emplace(last_component(entry.name), place.size());
    expected.try_emplace(last_component(entry.name), entry.contents);
  }
  // Each file is created once, and each writer takes its files in stream order.
  std::map<WriterId, std::size_t> last_place;
  std::set<std::wstring> created;
  for (const FileRecord& file : writers.disk.files) {
    ASSERT_TRUE(place.contains(file.name));
    EXPECT_TRUE(created.insert(file.name).second) << "created twice";
    if (last_place.contains(file.writer)) {
      EXPECT_GT(place[file.name], last_place[file.writer]);
    }
    last_place[file.writer] = place[file.name];
  }
  for (const std::wstring& name : test.whole) {
    const auto file = std::find_if(writers.disk.files.begin(), writers.disk.files.end(),
                                   [&](const FileRecord& record) { return record.name == name; });
    ASSERT_NE(file, writers.disk.files.end()) << std::string(name.begin(), name.end());
    EXPECT_EQ(file->contents, expected[name]) << std::string(name.begin(), name.end());
    EXPECT_TRUE(file->closed);
    for (std::uint32_t write : file->writes) EXPECT_LE(write, write_block_bytes);
    // Small files go in one call.
    if (expected[name].size() <= write_block_bytes) {
      EXPECT_EQ(file->writes.size(), 1u);
    }
  }
  for (const std::wstring& name : test.never_created) EXPECT_FALSE(created.contains(name));
}

INSTANTIATE_TEST_SUITE_P(Cases, Pipeline, ::testing::ValuesIn(pipeline_runs()),
                         [](const ::testing::TestParamInfo<PipelineRun>& info) {
                           std::string name;
                           for (const char* c = info.param.test.title; *c != '\0'; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name + "_" + std::to_string(info.param.writers) + "writers";
                         });

// A cache fill or repair checks the names as a plain unpacking does, whichever entries it writes.
TEST(PipelineRepeatedNames, AreRefusedAgainstACacheIndexWhateverIsRewritten) {
  const std::vector<TestEntry> entries = with_a_repeat(u"same.bin", u"SAME.bin");
  const std::string attached = cached_attached_data_for(entries);
  std::vector<CacheIndexEntry> index;
  for (const TestEntry& entry : entries) {
    index.push_back({std::wstring(entry.name.begin(), entry.name.end()), entry.contents.size()});
  }
  const std::vector<bool> all(entries.size(), true);
  const std::vector<bool> first_two = {true, true, false, false};
  const std::vector<bool> none(entries.size(), false);
  for (const std::vector<bool>* rewrite : {static_cast<const std::vector<bool>*>(nullptr), &all, &first_two, &none}) {
    ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
    open_attached_data(as_resource(attached));
    WriteQueue queue;
    ScriptedWriters writers(Script{}, queue, 2);
    const UnpackPlan plan{index, rewrite};
    const UnpackFailure failure = unpack_entries(RoleKind::parent, &plan, queue, writers.pointers);
    close_attached_data();
    EXPECT_EQ(failure.kind, Kind::repeated_name);
    EXPECT_EQ(failure.entry, 3u);
    for (const FileRecord& file : writers.disk.files) EXPECT_NE(file.name, L"SAME.bin") << "the repeat was created";
  }
}

UnpackFailure failure_of(Kind kind, std::uint64_t entry) { return UnpackFailure::at(kind, entry); }

struct FirstFailureCase {
  const char* title;
  std::vector<UnpackFailure> writers;
  UnpackFailure decoder;
  Kind kind;
  std::uint64_t entry;
};

TEST(PipelineFirstFailure, IsTheEarliestEntrysWhicheverWriterMetIt) {
  const FirstFailureCase cases[] = {
      {"none", {{}, {}}, {}, Kind::none, 0},
      {"the decoder's alone", {{}, {}}, failure_of(Kind::decode, 4), Kind::decode, 4},
      {"a writer's before the decoder's", {{}, failure_of(Kind::open, 4)}, failure_of(Kind::decode, 4), Kind::open, 4},
      {"the first writer's is earlier", {failure_of(Kind::open, 1), failure_of(Kind::write, 3)}, {}, Kind::open, 1},
      {"the second writer's is earlier", {failure_of(Kind::write, 3), failure_of(Kind::open, 1)}, {}, Kind::open, 1},
      {"a stop and a failure", {failure_of(Kind::stopped, 0), failure_of(Kind::write, 7)}, {}, Kind::write, 7},
      {"a stop before the decoder's", {{}, failure_of(Kind::stopped, 0)}, failure_of(Kind::decode, 2), Kind::stopped, 0},
  };
  for (const FirstFailureCase& test : cases) {
    const UnpackFailure failure = first_failure(test.writers, test.decoder);
    EXPECT_EQ(failure.kind, test.kind) << test.title;
    EXPECT_EQ(failure.entry, test.entry) << test.title;
  }
}

// Thousands of files of every small size, empty ones and one spanning several blocks, through as
// many writers as the launcher runs: each arrives whole, and a block goes to whichever writer is
// free (the first file waits until another writer has created one).
TEST(PipelineWriters, EveryFileArrivesWholeWhicheverWriterTakesIt) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 3000; ++i) {
    const std::string name =
        std::string("d").append(std::to_string(i % 7)).append("\\f").append(std::to_string(i));
    entries.push_back({std::u16string(name.begin(), name.end()), varied_bytes((i * 37) % 3001, i)});
    if (i == 1500) entries.push_back({u"spanning.bin", varied_bytes(2 * 1048576 + 17, 99)});
  }
  const std::string attached = attached_data_for(entries);
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  open_attached_data(as_resource(attached));
  WriteQueue queue;
  Script script;
  script.wait_for_another_writer = L"f0";
  ScriptedWriters writers(script, queue, unpack_writer_count);
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, writers.pointers);
  close_attached_data();

  EXPECT_EQ(failure.kind, Kind::none);
  ASSERT_EQ(writers.disk.files.size(), entries.size());
  std::map<std::wstring, const FileRecord*> by_name;
  for (const FileRecord& file : writers.disk.files) by_name[file.name] = &file;
  std::set<WriterId> used;
  for (const TestEntry& entry : entries) {
    const FileRecord* file = by_name[last_component(entry.name)];
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->contents, entry.contents);
    EXPECT_TRUE(file->closed);
    used.insert(file->writer);
  }
  EXPECT_GE(used.size(), 2u) << "more than one writer took blocks";
  // What a progress window reads: every byte written, counted once whichever writer wrote it.
  std::uint64_t contents = 0;
  for (const TestEntry& entry : entries) contents += entry.contents.size();
  EXPECT_EQ(queue.bytes_written(), contents);
  ASSERT_TRUE(queue.reset());
  EXPECT_EQ(queue.bytes_written(), 0u) << "each unpacking counts from zero";
}

TEST(PipelineStop, EndsEveryWriterWithItsFileClosedAndNothingReported) {
  ASSERT_TRUE(unpack_directory().assign(L"C:\\scripted"));
  const std::string attached = attached_data_for(six_files());
  open_attached_data(as_resource(attached));
  WriteQueue queue;
  // Created files wait for the stop, as a console event comes while files are being written.
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
  } first(queue), second(queue);
  const std::vector<UnpackTargets*> writers = {&first, &second};

  bool open_after_stop = true;
  std::thread console_event([&] {
    wait_until([&] { return first.entered.load() && second.entered.load(); });
    queue.stop_writers_and_wait();
    open_after_stop = first.open || second.open;
  });
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, writers);
  console_event.join();
  close_attached_data();
  EXPECT_EQ(failure.kind, Kind::stopped);
  EXPECT_FALSE(open_after_stop) << "the stop returns once every file is closed";
  EXPECT_EQ(first.created, 1);
  EXPECT_EQ(second.created, 1);
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
  const std::vector<UnpackTargets*> writers = {&targets};
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, writers);
  close_attached_data();
  EXPECT_EQ(failure.kind, Kind::none);
  ASSERT_EQ(targets.names.size(), 3u);
  EXPECT_EQ(targets.names[1], L"C:\\scripted\\huge.bin");
  EXPECT_EQ(targets.sizes, (std::vector<std::uint64_t>{100, huge, 5}));
  EXPECT_EQ(targets.misplaced, 0);
}

}  // namespace
}  // namespace osvari::testing

// Unpacking the entries of attached data held in memory into a folder of the test's own.
#include "payload/unpack.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/shared_state.h"
#include "payload/attached_data_reader.h"
#include "payload/unpack_times.h"
#include "payload/unpack_writer.h"
#include "payload/write_queue.h"
#include "platform/win32.h"
#include "tests/support/payload_builder.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

class Unpacking : public ::testing::Test {
 protected:
  // The reader keeps pointing into the attached data until it is closed.
  void open(const std::string& attached) {
    attached_ = attached;
    open_attached_data(as_resource(attached_));
  }
  void use_unpack_directory(const std::filesystem::path& directory) {
    ASSERT_TRUE(unpack_directory().assign(directory.wstring()));
  }

  TemporaryDirectory root_;
  std::filesystem::path target_ = root_.path() / L"unpack";
  std::string attached_;
};

TEST_F(Unpacking, WritesEveryEntryBelowTheUnpackDirectory) {
  const std::vector<TestEntry> entries = {
      {u"main.dll", "library"},
      {u"empty.txt", ""},
      {u"one_chunk.bin", varied_bytes(32768, 1)},
      {u"one_chunk_and_a_byte.bin", varied_bytes(32769, 2)},
      {u"a\\b\\c\\deep.txt", "deep"},
      {u"a\\b\\sibling.txt", "sibling"},
  };
  use_unpack_directory(target_);
  open(attached_data_for(entries));
  unpack_files(RoleKind::parent);
  close_attached_data();

  EXPECT_EQ(std::wstring(main_library_path()), (target_ / L"main.dll").wstring());
  for (const TestEntry& entry : entries) {
    std::wstring name(entry.name.begin(), entry.name.end());
    EXPECT_EQ(read_file(target_ / name), entry.contents) << std::filesystem::path(name).string();
  }
}

// Two writers at one file, should any repeat get past the name check, fail instead of mixing:
// the file stays open to one writer alone.
TEST_F(Unpacking, AFileBeingUnpackedCannotBeOpenedByAnotherWriter) {
  const std::span<UnpackTargets* const> writers = system_unpack_targets();
  ASSERT_GE(writers.size(), 2u);
  std::filesystem::create_directories(target_);
  const std::wstring path = (target_ / L"shared.bin").wstring();
  ASSERT_TRUE(writers[0]->create(path.c_str()));
  EXPECT_FALSE(writers[1]->create(path.c_str()));
  EXPECT_EQ(writers[1]->error_code(), 32u);  // ERROR_SHARING_VIOLATION
  const std::string contents = "written by the first writer alone";
  EXPECT_TRUE(writers[0]->write(reinterpret_cast<const unsigned char*>(contents.data()),
                                static_cast<std::uint32_t>(contents.size())));
  writers[0]->close();
  writers[1]->close();
  EXPECT_EQ(read_file(path), contents);
}

// Asked for, each thread's time is split into its waits and its kinds of work, which add up to
// no more than the thread's whole time; not asked for, nothing is measured.
TEST_F(Unpacking, AMeasuredUnpackingSplitsEachThreadsTimeAndAnUnmeasuredOneTouchesNoTimes) {
  std::vector<TestEntry> entries = {{u"main.dll", "library"}, {u"large.bin", varied_bytes(3 << 20, 3)}};
  for (int i = 0; i < 60; ++i) {
    char path[32];
    std::snprintf(path, sizeof path, "d%d\\f%d", i % 6, i);
    const std::string_view name = path;
    entries.push_back({std::u16string(name.begin(), name.end()), varied_bytes(5000, static_cast<unsigned>(i))});
  }
  const std::string attached = attached_data_for(entries);
  const std::span<UnpackTargets* const> writers = system_unpack_targets();
  WriteQueue queue;
  UnpackTimes times;
  queue.measure_times(&times);
  use_unpack_directory(target_);
  open(attached);
  ASSERT_FALSE(unpack_entries(RoleKind::parent, nullptr, queue, writers).failed());
  close_attached_data();

  EXPECT_GT(times.decoder_walk, 0);
  EXPECT_LE(times.decoder_waiting_for_block, times.decoder_walk);
  std::int64_t created = 0, written = 0, closed = 0;
  for (std::size_t w = 0; w < times.writers.size(); ++w) {
    const WriterTimes& writer = times.writers[w];
    if (w >= writers.size()) {
      EXPECT_EQ(writer.alive, 0) << "writer " << w << " did not run";
      continue;
    }
    EXPECT_GT(writer.alive, 0) << w;
    EXPECT_LE(writer.waiting_for_block + writer.directories + writer.creating + writer.writing + writer.closing,
              writer.alive) << w;
    EXPECT_LE(writer.directory_turn, writer.directories) << w;
    created += writer.creating;
    written += writer.writing;
    closed += writer.closing;
  }
  EXPECT_GT(created, 0);
  EXPECT_GT(written, 0);
  EXPECT_GT(closed, 0);

  const UnpackTimes measured = times;
  queue.measure_times(nullptr);
  use_unpack_directory(root_.path() / L"again");
  open(attached);
  ASSERT_FALSE(unpack_entries(RoleKind::parent, nullptr, queue, writers).failed());
  close_attached_data();
  EXPECT_EQ(times.decoder_walk, measured.decoder_walk);
  for (std::size_t w = 0; w < writers.size(); ++w) {
    EXPECT_EQ(times.writers[w].alive, measured.writers[w].alive) << w;
    EXPECT_EQ(times.writers[w].directory_turn, measured.writers[w].directory_turn) << w;
  }
  EXPECT_EQ(read_file(root_.path() / L"again" / L"large.bin"), entries[1].contents);
}

TEST_F(Unpacking, ReplacesAFileThatAlreadyExists) {
  write_file(target_ / L"main.dll", std::string(100'000, 'o'));
  use_unpack_directory(target_);
  open(attached_data_for({{u"main.dll", "new"}}));
  unpack_files(RoleKind::parent);
  close_attached_data();
  EXPECT_EQ(read_file(target_ / L"main.dll"), "new");
}

TEST_F(Unpacking, TheChildReadsOnlyTheFirstNameAndWritesNothing) {
  // Everything after the first name is missing: a child that read on would fail.
  std::string decoded = decoded_stream({{u"sub\\main.dll", "library"}});
  decoded.resize(2 * std::u16string_view(u"sub\\main.dll").size() + 2);
  use_unpack_directory(target_);
  open(attached_data_from_stream(decoded));
  unpack_files(RoleKind::child);
  EXPECT_EQ(std::wstring(main_library_path()), (target_ / L"sub\\main.dll").wstring());
  EXPECT_FALSE(std::filesystem::exists(target_));
}

TEST_F(Unpacking, AFileHeldOpenWithoutWriteSharingCannotBeReplaced) {
  write_file(target_ / L"locked.dll", "old");
  HANDLE holder = CreateFileW((target_ / L"locked.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  use_unpack_directory(target_);
  open(attached_data_for({{u"locked.dll", "new"}}));
  EXPECT_EXIT(unpack_files(RoleKind::parent), ::testing::ExitedWithCode(2),
              "^Error, failed to open '.*\\\\unpack\\\\locked\\.dll' for writing\\.");
  CloseHandle(holder);
}

// The target path (unpack directory, a backslash and the name) may fill 4095 code units.
TEST_F(Unpacking, ATargetPathOfExactly4095CodeUnitsIsAcceptedAndOneMoreIsNot) {
  const std::wstring name(1000, L'n');
  for (const std::size_t directory_length : {4095 - 1 - name.size(), 4096 - 1 - name.size()}) {
    std::wstring directory = root_.path().wstring() + L"\\";
    directory += std::wstring(directory_length - directory.size(), L'd');
    ASSERT_TRUE(unpack_directory().assign(directory));
    open(attached_data_for({{std::u16string(name.begin(), name.end()), "x"}}));
    const bool fits = directory_length + 1 + name.size() == 4095;
    // A path that long cannot be opened here, so the accepted one fails one step later.
    EXPECT_EXIT(unpack_files(RoleKind::parent), ::testing::ExitedWithCode(2), fits ? "failed to open" : "^$")
        << "unpack directory of " << directory_length << " code units";
  }
}

class UnsafeName : public Unpacking, public ::testing::WithParamInterface<const char16_t*> {};

// The death test's child runs the test body again in a process of its own; it finds the
// parent's folder in the environment it inherits.
std::filesystem::path folder_shared_with_death_test(const std::filesystem::path& own) {
  constexpr wchar_t variable[] = L"OSVARI_TEST_SHARED_FOLDER";
  if (const wchar_t* inherited = _wgetenv(variable)) return inherited;
  _wputenv_s(variable, own.c_str());
  return own;
}

TEST_P(UnsafeName, IsRefusedBeforeAnythingIsWritten) {
  const std::filesystem::path root = folder_shared_with_death_test(root_.path());
  const std::filesystem::path unpack = root / L"one" / L"two";
  use_unpack_directory(unpack);
  open(attached_data_for({{u"main.dll", "library"}, {GetParam(), "escaped"}}));
  EXPECT_EXIT(
      {
        unpack_files(RoleKind::parent);
        std::exit(0);
      },
      ::testing::ExitedWithCode(2), "^$");
  EXPECT_EQ(read_file(unpack / L"main.dll"), "library") << "the entry before the unsafe one is written";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) ++files;
  }
  EXPECT_EQ(files, 1u) << "nothing but main.dll below " << root.string();
  _wputenv_s(L"OSVARI_TEST_SHARED_FOLDER", L"");
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeName,
                         ::testing::Values(u"..\\..\\x.dll", u"a/../../x.dll", u"..\\x", u"\\x.dll", u"/x.dll",
                                           u"C:x.dll", u"x.dll:stream", u"NUL", u"nul.txt", u"sub\\NUL", u"COM1",
                                           u"com1.log", u"CONOUT$", u"trail.", u"trail ", u"d.\\f", u"a/b.txt",
                                           u"a<b", u"sub\\\\x"));

}  // namespace
}  // namespace osvari::testing

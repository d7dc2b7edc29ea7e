// Records of made folders: what one holds, which ones each start drops, and that a value too
// large for a record is never read as one.
#include "launcher/finish/made_folder_record.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <set>

#include "launcher/finish/finished_run_sweep.h"
#include "paths/extended_length_path.h"
#include "platform/registry.h"
#include "tests/support/sacrificial_area.h"

namespace osvari {
namespace {

constexpr std::uint64_t day = 24ull * 3600 * 10'000'000;
constexpr std::uint64_t now = 20'000 * day;

// The registry key and the folders, as scripted.
class ScriptedRecords final : public RecordOperations {
 public:
  std::vector<std::pair<std::wstring, std::vector<unsigned char>>> values;  // in the store's order
  std::map<std::wstring, FileIdentity> folders;                            // path -> identity
  std::set<std::wstring> unknown;  // paths the system can tell nothing about (neither gone nor there)
  int time_left = 1000;

  void add(const std::wstring& name, const MadeFolderRecord& record) {
    values.emplace_back(name, encode_made_folder_record(record));
  }
  [[nodiscard]] std::vector<std::wstring> names() const {
    std::vector<std::wstring> names;
    for (const auto& value : values) names.push_back(value.first);
    return names;
  }

  std::uint32_t count() override { return static_cast<std::uint32_t>(values.size()); }
  std::optional<std::wstring> name_at(std::uint32_t index) override {
    if (index >= values.size()) return std::nullopt;
    return values[index].first;
  }
  std::optional<MadeFolderRecord> read(const std::wstring& name) override {
    for (const auto& [value_name, bytes] : values) {
      if (value_name == name && bytes.size() <= record_capacity) return decode_made_folder_record(bytes);
    }
    return std::nullopt;
  }
  void drop(const std::wstring& name) override {
    std::erase_if(values, [&](const auto& value) { return value.first == name; });
  }
  bool is_gone(const std::wstring& path) override { return !folders.contains(path) && !unknown.contains(path); }
  std::optional<FileIdentity> identity(const std::wstring& path) override {
    const auto found = folders.find(path);
    if (found == folders.end()) return std::nullopt;
    return found->second;
  }
  std::uint64_t now() override { return osvari::now; }
};

std::wstring stamped(std::uint64_t time) { return L"onefile_7_" + std::to_wstring(time); }

TEST(MadeFolderRecords, HoldTheIdentityAndThePathAndReadBackOlderOnes) {
  const MadeFolderRecord record{{0x12345678, 0x1122334455667788ull}, L"\\\\?\\C:\\T\\onefile_1_2\u0416"};
  const std::vector<unsigned char> bytes = encode_made_folder_record(record);
  EXPECT_EQ(bytes.size(), record_identity_bytes + 2 * record.path.size());
  const std::optional<MadeFolderRecord> back = decode_made_folder_record(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->identity, record.identity);
  EXPECT_EQ(back->path, record.path);

  // As older launchers wrote them: the identity alone.
  const std::optional<MadeFolderRecord> older =
      decode_made_folder_record(std::vector<unsigned char>(bytes.begin(), bytes.begin() + record_identity_bytes));
  ASSERT_TRUE(older);
  EXPECT_EQ(older->identity, record.identity);
  EXPECT_TRUE(older->path.empty());

  for (const std::size_t size : {std::size_t{0}, std::size_t{11}, std::size_t{13}}) {
    EXPECT_FALSE(decode_made_folder_record(std::vector<unsigned char>(size, 1))) << size;
  }
  // A path too long to keep is left out: the record still tells the folder by its identity.
  const std::wstring long_path(record_path_capacity + 1, L'a');
  EXPECT_EQ(encode_made_folder_record({record.identity, long_path}).size(), record_identity_bytes);
}

TEST(MadeFolderRecords, EachStartDropsThoseWhoseFolderIsGoneOrAnotherOne) {
  ScriptedRecords store;
  const FileIdentity made{1, 100};
  store.add(L"onefile_1_1", {made, L"P\\gone"});
  store.add(L"onefile_1_2", {made, L"P\\replaced"});
  store.add(L"onefile_1_3", {made, L"P\\still_there"});
  store.add(L"onefile_1_4", {made, L"P\\cannot_tell"});
  store.add(stamped(now - 31 * day), {made, L""});  // an older launcher's, old
  store.add(stamped(now - 29 * day), {made, L""});  // an older launcher's, recent
  store.add(L"not_a_run_name", {made, L""});        // an older launcher's, name unreadable
  store.values.emplace_back(L"onefile_1_9", std::vector<unsigned char>(record_capacity + 1, 0));  // no record
  const FileIdentity none{};  // recorded before the folder was made
  store.add(stamped(now - 2 * unmade_record_age), {none, L"P\\never_made"});
  store.add(stamped(now - unmade_record_age / 2), {none, L"P\\not_made_yet"});
  store.add(stamped(now - 2 * unmade_record_age + 1), {none, L"P\\made_but_not_recorded"});
  store.folders = {{L"P\\replaced", {1, 101}}, {L"P\\still_there", made}, {L"P\\made_but_not_recorded", {1, 7}}};
  store.unknown = {L"P\\cannot_tell"};

  const std::vector<std::wstring> dropped = drop_stale_records(store, 100, 0, {});

  EXPECT_EQ(dropped, (std::vector<std::wstring>{L"onefile_1_1", L"onefile_1_2", stamped(now - 31 * day),
                                                L"not_a_run_name", stamped(now - 2 * unmade_record_age)}));
  // The sweep, not the tidying, decides about a folder that was about to be made and is there.
  EXPECT_EQ(store.names(), (std::vector<std::wstring>{L"onefile_1_3", L"onefile_1_4", stamped(now - 29 * day),
                                                      L"onefile_1_9", stamped(now - unmade_record_age / 2),
                                                      stamped(now - 2 * unmade_record_age + 1)}));
}

// Records kept for folders that stay must not take every start's turns.
TEST(MadeFolderRecords, EveryRecordIsReachedInTurnAndTimeEndsTheLook) {
  ScriptedRecords store;
  const FileIdentity made{1, 100};
  for (int i = 0; i < 10; ++i) {
    const std::wstring path = L"P\\kept" + std::to_wstring(i);
    store.add(L"onefile_1_" + std::to_wstring(i), {made, path});
    store.folders[path] = made;
  }
  store.add(L"onefile_2_0", {made, L"P\\gone"});
  for (std::uint64_t rotation = 0; rotation < 10; rotation += record_check_limit) {
    (void)drop_stale_records(store, record_check_limit, rotation, {});
  }
  EXPECT_EQ(store.count(), 10u) << "the record of the folder that is gone was never reached";

  store.add(L"onefile_2_1", {made, L"P\\gone"});
  int asked = 0;
  EXPECT_EQ(drop_stale_records(store, 100, 10, [&asked] { return ++asked > 0; }), std::vector<std::wstring>{});
  EXPECT_EQ(drop_stale_records(store, 100, 10, {}), std::vector<std::wstring>{L"onefile_2_1"});
}

// The real registry and file system: a record is tested by its own path wherever the folder
// is, and a value too large for a record is neither read as one nor dropped.
TEST(MadeFolderRecords, TheSystemBindingTestsRecordsByTheirPathAndLeavesOversizedValues) {
  const testing::SacrificialArea area;
  const std::filesystem::path root = area.work();
  const std::wstring stamp = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
  const std::wstring kept = extended_length_path((root / (L"onefile_91_" + stamp)).wstring());
  const std::wstring removed = extended_length_path((root / (L"onefile_92_" + stamp)).wstring());
  for (const std::wstring& path : {kept, removed}) {
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    record_made_folder(path);
    EXPECT_TRUE(is_recorded_made_folder(path));
  }
  ASSERT_TRUE(RemoveDirectoryW(removed.c_str()));
  const std::wstring oversized = L"onefile_93_" + stamp;
  const std::vector<unsigned char> large(record_capacity + 2, 0);
  ASSERT_TRUE(write_user_value(L"Software\\Osvari Onefile\\Made folders", oversized.c_str(), large.data(),
                               static_cast<std::uint32_t>(large.size())));
  const std::wstring beside_oversized = extended_length_path((root / oversized).wstring());
  ASSERT_TRUE(CreateDirectoryW(beside_oversized.c_str(), nullptr));
  EXPECT_FALSE(is_recorded_made_folder(beside_oversized));

  RecordOperations& system = system_record_operations();
  const std::vector<std::wstring> dropped = drop_stale_records(system, system.count(), 0, {});
  EXPECT_NE(std::find(dropped.begin(), dropped.end(), L"onefile_92_" + stamp), dropped.end());
  EXPECT_EQ(std::find(dropped.begin(), dropped.end(), L"onefile_91_" + stamp), dropped.end());
  EXPECT_EQ(std::find(dropped.begin(), dropped.end(), oversized), dropped.end());
  EXPECT_TRUE(is_recorded_made_folder(kept));
  EXPECT_EQ(system.read(oversized), std::nullopt);

  forget_made_folder(kept);
  forget_made_folder(beside_oversized);
  EXPECT_FALSE(is_recorded_made_folder(kept));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// A folder is recorded before it is made, without identity, and made once it exists: a run
// killed in between leaves a record that names that very path.
TEST(MadeFolderRecords, AFolderIsRecordedAsAboutToBeMadeThenAsMade) {
  const testing::SacrificialArea area;
  const std::wstring name = L"onefile_94_" + std::to_wstring(GetCurrentProcessId()) + std::to_wstring(GetTickCount64());
  const std::wstring path = extended_length_path((area.work() / name).wstring());
  const std::wstring elsewhere = extended_length_path((area.outside() / name).wstring());
  record_folder_to_make(path);
  EXPECT_EQ(recorded_state(path), MadeFolder::about_to_be_made);
  EXPECT_EQ(recorded_state(elsewhere), MadeFolder::not_recorded);
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_EQ(recorded_state(path), MadeFolder::about_to_be_made);
  EXPECT_FALSE(is_recorded_made_folder(path));
  record_made_folder(path);
  EXPECT_EQ(recorded_state(path), MadeFolder::made);
  EXPECT_TRUE(is_recorded_made_folder(path));
  ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
  EXPECT_EQ(recorded_state(elsewhere), MadeFolder::not_recorded);
  forget_made_folder(path);
  EXPECT_EQ(recorded_state(path), MadeFolder::not_recorded);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace osvari

#include "launcher/finish/made_folder_record.h"

#include <array>
#include <cstring>

#include "paths/unpack_directory_name.h"
#include "platform/processes.h"
#include "platform/registry.h"

namespace osvari {
namespace {

constexpr const wchar_t* record_key = L"Software\\Osvari Onefile\\Made folders";

std::wstring name_of(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L'\\');
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::optional<MadeFolderRecord> read_record(const std::wstring& name) {
  std::array<unsigned char, record_capacity> buffer;
  const std::optional<std::size_t> size = read_user_value(record_key, name.c_str(), buffer);
  if (!size) return std::nullopt;
  return decode_made_folder_record(std::span<const unsigned char>(buffer.data(), *size));
}

void write_record(const std::wstring& path, const MadeFolderRecord& record) {
  const std::vector<unsigned char> bytes = osvari::encode_made_folder_record(record);
  (void)write_user_value(record_key, name_of(path).c_str(), bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

class SystemRecordOperations final : public RecordOperations {
 public:
  std::uint32_t count() override { return user_value_count(record_key); }
  std::optional<std::wstring> name_at(std::uint32_t index) override {
    return user_value_name(record_key, index, record_name_capacity);
  }
  std::optional<MadeFolderRecord> read(const std::wstring& name) override { return read_record(name); }
  void drop(const std::wstring& name) override { delete_user_value(record_key, name.c_str()); }
  bool is_gone(const std::wstring& path) override {
    if (file_attributes(path.c_str())) return false;
    const std::uint32_t error = last_error();
    return error == 2 || error == 3;  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
  }
  std::optional<FileIdentity> identity(const std::wstring& path) override { return identity_of(path.c_str()); }
  std::uint64_t now() override { return system_time_as_file_time(); }
};

// The name's time stamp is more than `age` old; a name of another shape counts as old.
bool is_older_than(RecordOperations& system, const std::wstring& name, std::uint64_t age) {
  const std::optional<UnpackDirectoryName> parsed = parse_unpack_directory_name(name);
  const std::uint64_t now = system.now();
  return !parsed || (now > parsed->time_stamp && now - parsed->time_stamp > age);
}

bool is_stale(RecordOperations& system, const std::wstring& name, const MadeFolderRecord& record) {
  if (record.path.empty()) return is_older_than(system, name, pathless_record_age);
  if (record.is_about_to_be_made()) {
    return system.is_gone(record.path) && is_older_than(system, name, unmade_record_age);
  }
  if (system.is_gone(record.path)) return true;
  const std::optional<FileIdentity> identity = system.identity(record.path);
  return identity && *identity != record.identity;
}

}  // namespace

std::vector<unsigned char> encode_made_folder_record(const MadeFolderRecord& record) {
  const std::size_t path_units = record.path.size() <= record_path_capacity ? record.path.size() : 0;
  std::vector<unsigned char> bytes(record_identity_bytes + 2 * path_units);
  std::memcpy(bytes.data(), &record.identity.volume, 4);
  std::memcpy(bytes.data() + 4, &record.identity.index, 8);
  for (std::size_t i = 0; i < path_units; ++i) {
    const auto unit = static_cast<std::uint16_t>(record.path[i]);
    bytes[record_identity_bytes + 2 * i] = static_cast<unsigned char>(unit & 0xFF);
    bytes[record_identity_bytes + 2 * i + 1] = static_cast<unsigned char>(unit >> 8);
  }
  return bytes;
}

std::optional<MadeFolderRecord> decode_made_folder_record(std::span<const unsigned char> bytes) {
  if (bytes.size() < record_identity_bytes || (bytes.size() - record_identity_bytes) % 2 != 0) return std::nullopt;
  MadeFolderRecord record;
  std::memcpy(&record.identity.volume, bytes.data(), 4);
  std::memcpy(&record.identity.index, bytes.data() + 4, 8);
  for (std::size_t i = record_identity_bytes; i < bytes.size(); i += 2) {
    record.path.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return record;
}

void record_folder_to_make(const std::wstring& path) {
  // Without its path the record could not name the folder: none is written then.
  if (path.size() <= record_path_capacity) write_record(path, {FileIdentity{}, path});
}

void record_made_folder(const std::wstring& path) {
  if (const std::optional<FileIdentity> identity = identity_of(path.c_str())) write_record(path, {*identity, path});
}

MadeFolder recorded_state(const std::wstring& path) {
  const std::optional<MadeFolderRecord> recorded = read_record(name_of(path));
  if (!recorded) return MadeFolder::not_recorded;
  if (recorded->is_about_to_be_made()) {
    return recorded->path == path ? MadeFolder::about_to_be_made : MadeFolder::not_recorded;
  }
  const std::optional<FileIdentity> identity = identity_of(path.c_str());
  return identity && *identity == recorded->identity ? MadeFolder::made : MadeFolder::not_recorded;
}

bool is_recorded_made_folder(const std::wstring& path) { return recorded_state(path) == MadeFolder::made; }

void forget_made_folder(const std::wstring& path) { delete_user_value(record_key, name_of(path).c_str()); }

RecordOperations& system_record_operations() {
  static SystemRecordOperations operations;
  return operations;
}

std::vector<std::wstring> drop_stale_records(RecordOperations& system, std::size_t limit, std::uint64_t rotation,
                                             const std::function<bool()>& out_of_time) {
  std::vector<std::wstring> dropped;
  const std::uint32_t count = system.count();
  if (count == 0) return dropped;
  // The names first, then the drops: dropping a value renumbers those after it.
  std::vector<std::wstring> names;
  const std::uint64_t first = rotation % count;
  for (std::uint64_t step = 0; step < count && names.size() < limit; ++step) {
    if (std::optional<std::wstring> name = system.name_at(static_cast<std::uint32_t>((first + step) % count))) {
      names.push_back(std::move(*name));
    }
  }
  for (const std::wstring& name : names) {
    if (out_of_time && out_of_time()) break;
    // Values that are no record (too large, malformed) are left as they are.
    const std::optional<MadeFolderRecord> record = system.read(name);
    if (!record || !is_stale(system, name, *record)) continue;
    system.drop(name);
    dropped.push_back(name);
  }
  return dropped;
}

}  // namespace osvari

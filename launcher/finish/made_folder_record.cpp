#include "launcher/finish/made_folder_record.h"

#include <array>
#include <cstring>
#include <optional>

#include "platform/files.h"
#include "platform/registry.h"

namespace osvari {
namespace {

constexpr const wchar_t* record_key = L"Software\\Osvari Onefile\\Made folders";

using Record = std::array<unsigned char, 12>;  // volume serial, then file index

std::wstring name_of(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L'\\');
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::optional<Record> record_of(const std::wstring& path) {
  const std::optional<FileIdentity> identity = identity_of(path.c_str());
  if (!identity) return std::nullopt;
  Record record{};
  std::memcpy(record.data(), &identity->volume, 4);
  std::memcpy(record.data() + 4, &identity->index, 8);
  return record;
}

}  // namespace

void record_made_folder(const std::wstring& path) {
  if (const std::optional<Record> record = record_of(path)) {
    (void)write_user_value(record_key, name_of(path).c_str(), record->data(), static_cast<std::uint32_t>(record->size()));
  }
}

bool is_recorded_made_folder(const std::wstring& path) {
  const std::optional<std::vector<unsigned char>> recorded = read_user_value(record_key, name_of(path).c_str());
  if (!recorded || recorded->size() != Record{}.size()) return false;
  const std::optional<Record> record = record_of(path);
  return record && std::memcmp(record->data(), recorded->data(), record->size()) == 0;
}

void forget_made_folder(const std::wstring& path) { delete_user_value(record_key, name_of(path).c_str()); }

}  // namespace osvari

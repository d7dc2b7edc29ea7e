#include "payload/missing_import.h"

#include <deque>
#include <vector>

#include "payload/entry_name_case.h"
#include "payload/image_imports.h"
#include "platform/files.h"
#include "platform/modules.h"

namespace osvari {
namespace {

std::wstring widened(const std::string& name) { return std::wstring(name.begin(), name.end()); }

std::u16string folded(std::wstring_view name) {
  std::u16string result;
  fold_entry_name(name, result);
  return result;
}

std::string file_name_of(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  const std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
  std::string narrow;
  for (wchar_t unit : name) narrow.push_back(static_cast<unsigned>(unit) < 128 ? static_cast<char>(unit) : '?');
  return narrow;
}

std::optional<std::vector<std::string>> imports_of(const std::wstring& path) {
  const UniqueFileHandle file = open_for_reading(path.c_str());
  if (!file.is_valid()) return std::nullopt;
  return read_imported_dll_names([&](std::uint64_t offset, unsigned char* into, std::size_t length) {
    return read_file_at(file.get(), offset, into, static_cast<std::uint32_t>(length));
  });
}

bool is_file(const std::wstring& path) {
  const std::optional<std::uint32_t> attributes = file_attributes(path.c_str());
  return attributes && (*attributes & 0x10) == 0;  // FILE_ATTRIBUTE_DIRECTORY
}

}  // namespace

std::optional<MissingImport> find_missing_import(const std::wstring& image_path) {
  const std::size_t separator = image_path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return std::nullopt;
  const std::wstring folder = image_path.substr(0, separator + 1);

  std::deque<std::wstring> waiting{image_path};
  std::vector<std::u16string> seen{folded(std::wstring_view(image_path).substr(separator + 1))};
  for (std::size_t examined = 0; !waiting.empty() && examined < max_images_examined; ++examined) {
    const std::wstring image = waiting.front();
    waiting.pop_front();
    const std::optional<std::vector<std::string>> imports = imports_of(image);
    if (!imports) return std::nullopt;
    for (const std::string& dll : *imports) {
      const std::wstring name = widened(dll);
      const std::u16string folded_name = folded(name);
      bool already_seen = false;
      for (const std::u16string& other : seen) already_seen = already_seen || other == folded_name;
      if (already_seen) continue;
      seen.push_back(folded_name);
      if (is_file(folder + name)) {
        waiting.push_back(folder + name);
      } else if (!system_finds_library(name.c_str())) {
        return MissingImport{dll, file_name_of(image)};
      }
    }
  }
  return std::nullopt;
}

std::string missing_import_line(const MissingImport& missing) {
  return "Missing DLL: " + missing.dll + " (imported by " + missing.imported_by + ")";
}

std::string missing_import_report(std::uint32_t code, const std::wstring& image_path) {
  constexpr std::uint32_t module_not_found = 126;
  if (code != module_not_found) return {};
  const std::optional<MissingImport> missing = find_missing_import(image_path);
  return missing ? missing_import_line(*missing) : std::string();
}

}  // namespace osvari

#include "tests/support/executable_resources.h"

#include <cwchar>
#include <iterator>
#include <vector>

#include "platform/win32.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

std::vector<char> version_block(const std::wstring& executable) {
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(executable.c_str(), &ignored));
  if (block.empty() || !GetFileVersionInfoW(executable.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
    block.clear();
  }
  return block;
}

}  // namespace

ResourceImage::ResourceImage(const std::wstring& executable)
    : module_(LoadLibraryExW(executable.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}

ResourceImage::~ResourceImage() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

std::optional<std::string> ResourceImage::resource(int type, int id) const {
  const auto module = static_cast<HMODULE>(module_);
  HRSRC found = module == nullptr ? nullptr : FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
  if (found == nullptr) return std::nullopt;
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return std::string(bytes, SizeofResource(module, found));
}

std::vector<int> ResourceImage::numeric_ids(int type) const {
  std::vector<int> ids;
  if (module_ == nullptr) return ids;
  EnumResourceNamesW(
      static_cast<HMODULE>(module_), MAKEINTRESOURCEW(type),
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
        if (IS_INTRESOURCE(name)) {
          reinterpret_cast<std::vector<int>*>(found)->push_back(static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
        }
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&ids));
  return ids;
}

std::string manifest_of(const std::wstring& executable) {
  return ResourceImage(executable).resource(resource_type_manifest, 1).value_or("");
}

std::wstring version_string(const std::wstring& executable, const std::wstring& field) {
  std::vector<char> block = version_block(executable);
  if (block.empty()) return L"(no version information)";
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + field;
  if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return L"(none)";
  return std::wstring(value);
}

std::map<std::wstring, std::wstring> version_fields(const std::wstring& executable) {
  std::map<std::wstring, std::wstring> fields;
  std::vector<char> block = version_block(executable);
  struct Translation {
    WORD language;
    WORD code_page;
  }* translations = nullptr;
  UINT length = 0;
  if (block.empty() ||
      !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return fields;
  }
  wchar_t table[32];
  swprintf(table, std::size(table), L"\\StringFileInfo\\%04X%04X\\", translations->language, translations->code_page);
  for (const wchar_t* field : {L"Comments", L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                               L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename", L"PrivateBuild",
                               L"ProductName", L"ProductVersion", L"SpecialBuild"}) {
    wchar_t* value = nullptr;
    const std::wstring query = table + std::wstring(field);
    if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) fields[field] = value;
  }
  return fields;
}

std::pair<std::uint32_t, std::uint32_t> file_version_numbers(const std::wstring& executable) {
  std::vector<char> block = version_block(executable);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (block.empty() || !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
    return {0xFFFFFFFF, 0xFFFFFFFF};
  }
  return {fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

ImageKind image_kind_of(const std::wstring& executable) {
  const std::string bytes = read_file(executable);
  if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return {};
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  if (dos->e_lfanew < 0 || bytes.size() < static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64)) return {};
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
  return {nt->FileHeader.Machine, nt->OptionalHeader.Subsystem};
}

}  // namespace osvari::testing

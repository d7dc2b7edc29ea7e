#include "tools/pack/inputs/import_check.h"

#include <algorithm>
#include <array>
#include <set>
#include <string>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pe/pe_imports.h"

namespace osvari::pack {
namespace {

// Lower case, without ".dll".
constexpr std::array windows_dlls = {
    "advapi32", "avrt",      "bcrypt",   "cfgmgr32",  "comctl32",    "comdlg32", "crypt32",    "cryptbase", "d2d1",
    "dbghelp",  "dinput8",   "dnsapi",   "dsound",    "dwmapi",      "dwrite",   "dxgi",       "dxva2",     "gdi32",
    "gdiplus",  "glu32",     "hid",      "imm32",     "iphlpapi",    "kernel32", "kernelbase", "mpr",       "msimg32",
    "msi",      "msvcp_win", "msvcrt",   "mswsock",   "ncrypt",      "netapi32", "normaliz",   "ntdll",     "ole32",
    "oleacc",   "oleaut32",  "opengl32", "powrprof",  "propsys",     "psapi",    "rpcrt4",     "secur32",   "setupapi",
    "shcore",   "shell32",   "shlwapi",  "sspicli",   "ucrtbase",    "urlmon",   "user32",     "userenv",   "usp10",
    "uxtheme",  "version",   "winhttp",  "wininet",   "winmm",       "winspool", "wintrust",   "winusb",    "wldap32",
    "ws2_32",   "wsock32",   "wtsapi32", "xinput1_4", "xinput9_1_0",
};

std::string lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string folder_of(const std::string& entry_name) {
  const std::size_t last = entry_name.rfind('\\');
  return last == std::string::npos ? std::string() : entry_name.substr(0, last + 1);
}

std::optional<std::vector<std::string>> imports_of(const std::filesystem::path& path) {
  const std::optional<ImageBytes> bytes = ImageBytes::from_file(path);
  if (!bytes) return std::nullopt;
  return imported_dll_names(*bytes);
}

}  // namespace

bool is_windows_dll(std::string_view name) {
  const std::string lower = lower_ascii(name);
  if (lower.starts_with("api-ms-win-") || lower.starts_with("ext-ms-")) return true;
  std::string_view base = lower;
  if (base.ends_with(".dll") || base.ends_with(".drv")) base.remove_suffix(4);
  if (base.starts_with("d3d")) return true;  // d3d9, d3d11, d3d12, d3dcompiler_47, ...
  return std::find(windows_dlls.begin(), windows_dlls.end(), base) != windows_dlls.end();
}

void warn_about_missing_imports(const std::vector<PackEntry>& entries, std::ostream& out) {
  std::set<std::string> packed;  // lower-case entry names
  for (const PackEntry& entry : entries) packed.insert(lower_ascii(utf16_to_utf8(entry.name)));
  const std::string main_folder = folder_of(lower_ascii(utf16_to_utf8(entries.front().name)));

  for (const PackEntry& entry : entries) {
    // The first entry is the main library or a program; after it only DLLs are loaded.
    if (&entry != &entries.front() && !ends_in_dll(entry.name)) continue;
    const std::string name = utf16_to_utf8(entry.name);
    const auto imports = imports_of(entry.source);
    if (!imports) continue;  // not a PE image: nothing the loader will resolve
    const std::string folder = folder_of(lower_ascii(name));
    std::set<std::string> warned;
    for (const std::string& imported : *imports) {
      const std::string lower = lower_ascii(imported);
      if (is_windows_dll(lower) || packed.contains(folder + lower) || packed.contains(main_folder + lower)) continue;
      if (!warned.insert(lower).second) continue;
      out << "osvari-pack: warning: " << name << " imports " << imported
          << ", which is neither packed beside it nor part of Windows (loading would fail: module not found)\n";
    }
  }
}

}  // namespace osvari::pack

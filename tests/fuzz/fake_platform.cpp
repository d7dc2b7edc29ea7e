// Linux stand-ins for the platform functions that the fuzzed code calls. Files are swallowed,
// the environment is a map, and command lines are split by the rules CommandLineToArgvW follows.
// Every path a file or folder is made or looked up at must lie inside the unpack folder: one
// outside it aborts, so that an escape is a finding.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <thread>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "base/build_constants.h"
#include "base/shared_state.h"
#include "launcher/run/child_launch.h"
#include "platform/files.h"
#include "platform/modules.h"
#include "platform/processes.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "tests/fuzz/fake_platform.h"

namespace osvari {
namespace {

std::map<std::wstring, std::wstring>& environment() {
  static std::map<std::wstring, std::wstring> variables;
  return variables;
}

RawHandle fake_file() { return reinterpret_cast<RawHandle>(static_cast<std::uintptr_t>(0x1000)); }

// A component Windows would not take as a plain name inside the folder: a way up or across
// (empty, ".", "..", a drive or stream colon) or a device name in any letter case.
bool leaves_the_folder(std::wstring_view component) {
  if (component.empty() || component == L"." || component == L".." || component.find(L':') != std::wstring_view::npos) {
    return true;
  }
  std::wstring stem(component.substr(0, component.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& unit : stem) unit = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(unit)));
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) && stem[3] >= L'0' &&
         stem[3] <= L'9';
}

void require_inside_unpack_folder(const wchar_t* path) {
  const std::wstring_view folder = unpack_directory().view();
  const std::wstring_view text = path;
  bool inside = !folder.empty() && text.starts_with(folder);
  if (inside && text.size() > folder.size()) {
    inside = text[folder.size()] == L'\\';
    std::wstring_view rest = text.substr(folder.size() + 1);
    while (inside) {
      const std::size_t end = rest.find_first_of(L"\\/");
      inside = !leaves_the_folder(rest.substr(0, end));
      if (end == std::wstring_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  if (!inside) {
    std::fprintf(stderr, "escape: a path outside the unpack folder: %ls\n", path);
    std::abort();
  }
}

}  // namespace

const wchar_t* const build_company_name = L"Fuzz Company";
const wchar_t* const build_product_name = L"Fuzz Product";
const wchar_t* const build_version_text = L"1.0";

void close_raw_handle(RawHandle) {}

// The fuzz targets open the reader over their input; the executable has no resource here.
ResourceBytes find_own_rcdata_resource(int) { return {}; }

std::uint32_t last_error() { return 0; }
void sleep_milliseconds(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
std::uint32_t current_process_id() { return 4242; }
std::uint64_t system_time_as_file_time() { return 133'000'000'000'000'000ull; }

std::uint32_t get_environment_variable(const wchar_t* name, wchar_t* buffer, std::uint32_t capacity) {
  const auto found = environment().find(name);
  if (found == environment().end()) return 0;
  const std::wstring& value = found->second;
  if (value.size() + 1 > capacity) return static_cast<std::uint32_t>(value.size() + 1);
  std::wmemcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<std::uint32_t>(value.size());
}

void set_environment_variable(const wchar_t* name, const wchar_t* value) {
  if (value == nullptr) {
    environment().erase(name);
  } else {
    environment()[name] = value;
  }
}

std::uint32_t get_temp_path(wchar_t* buffer, std::uint32_t capacity) {
  const std::wstring temp = L"C:\\Temp\\";
  if (temp.size() + 1 > capacity) return static_cast<std::uint32_t>(temp.size() + 1);
  std::wmemcpy(buffer, temp.c_str(), temp.size() + 1);
  return static_cast<std::uint32_t>(temp.size());
}

bool get_folder_path(int folder, wchar_t* buffer) {
  const wchar_t* path = folder == folder_profile ? L"C:\\Users\\fuzz" : L"C:\\Users\\fuzz\\AppData\\Local";
  std::wcscpy(buffer, path);
  return true;
}

wchar_t** runtime_argument_vector() {
  static wchar_t program[] = L"C:\\dir\\app.exe";
  static wchar_t* arguments[] = {program, nullptr};
  return arguments;
}
int runtime_argument_count() { return 1; }

const wchar_t* process_command_line() { return L"app.exe"; }

const OwnModulePath& own_module_path() {
  static OwnModulePath path;
  if (path.empty()) (void)path.assign(L"C:\\dir\\app.exe");
  return path;
}

UniqueFileHandle create_file_for_writing(const wchar_t* path) {
  require_inside_unpack_folder(path);
  return UniqueFileHandle(fake_file());
}

bool write_file(RawHandle, const void*, std::uint32_t length, std::uint32_t& written) {
  written = length;
  return true;
}

CreateDirectoryResult create_directory(const wchar_t* path) {
  require_inside_unpack_folder(path);
  return CreateDirectoryResult::created;
}
bool is_existing_directory(const wchar_t* path) {
  require_inside_unpack_folder(path);
  return true;
}
std::optional<std::uint32_t> file_attributes(const wchar_t* path) {
  require_inside_unpack_folder(path);
  return attribute_directory;
}

SplitArguments::SplitArguments(const wchar_t* command_line) {
  const std::vector<std::wstring> split = split_command_line(command_line);
  count_ = static_cast<int>(split.size());
  arguments_ = new wchar_t*[split.size() + 1];
  for (std::size_t i = 0; i < split.size(); ++i) {
    arguments_[i] = new wchar_t[split[i].size() + 1];
    std::wmemcpy(arguments_[i], split[i].c_str(), split[i].size() + 1);
  }
  arguments_[split.size()] = nullptr;
}

SplitArguments::~SplitArguments() {
  for (int i = 0; i < count_; ++i) delete[] arguments_[i];
  delete[] arguments_;
}

std::vector<std::wstring> split_command_line(std::wstring_view line) {
  std::vector<std::wstring> arguments;
  std::size_t i = 0;
  // Argument 0 knows no escapes: quoted up to the next quote, or up to a blank or tab.
  std::wstring program;
  if (i < line.size() && line[i] == L'"') {
    for (++i; i < line.size() && line[i] != L'"'; ++i) program.push_back(line[i]);
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && line[i] != L' ' && line[i] != L'\t'; ++i) program.push_back(line[i]);
  }
  arguments.push_back(program.empty() && line.empty() ? std::wstring(L"C:\\dir\\app.exe") : program);
  for (;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring argument;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        argument.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          argument.push_back(L'"');
        } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument.push_back(L'"');  // "" inside quotes is one literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(backslashes, L'\\');
        if (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) argument.push_back(line[i++]);
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace osvari

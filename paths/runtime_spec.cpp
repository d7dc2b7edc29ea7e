#include "paths/runtime_spec.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "base/build_constants.h"
#include "base/error_reporting.h"
#include "paths/environment.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/runtime.h"
#include "platform/shell.h"

namespace osvari {
namespace {

constexpr std::size_t placeholder_name_capacity = 1024;
constexpr std::size_t time_stamp_capacity = 1024;

void append_value(ExpansionOutput& output, std::wstring_view value) {
  if (!output.append(value)) fail_internal_limit("a runtime spec value does not fit in the output buffer");
}

// The whole output is trimmed, so a backslash written before an empty value goes as well.
void trim_trailing_backslashes(ExpansionOutput& output) {
  while (output.size() > 0 && output.at(output.size() - 1) == L'\\') output.truncate(output.size() - 1);
}

bool is_runtime_digit(wchar_t unit) {
  static const std::wctype_t digit = std::wctype("digit");
  return std::iswctype(static_cast<std::wint_t>(unit), digit) != 0;
}

bool expand_at_end(ExpansionOutput& output, const wchar_t* spec, RuntimeSpecEnvironment& environment);

bool append_temp_path(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  const std::span<wchar_t> room = output.free_space();
  const std::uint32_t length = environment.temp_path(room.data(), static_cast<std::uint32_t>(room.size()));
  // GetTempPathW answers 0 on failure and the size it needs when the buffer is too small;
  // either way nothing usable was written, and a cut path would name another directory.
  const bool terminated = std::find(room.begin(), room.end(), L'\0') != room.end();
  if (length == 0 || length >= room.size() || !terminated) {
    output.truncate(output.size());
    return false;
  }
  (void)output.adopt_written_text();
  trim_trailing_backslashes(output);
  return true;
}

void append_program(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  const wchar_t* program = environment.program();
  if (program == nullptr) fail_internal_limit("argv[0] is missing");
  append_value(output, program);
}

bool append_program_base(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  const std::size_t start = output.size();
  if (!expand_at_end(output, L"{PROGRAM}", environment)) return false;
  const std::size_t end = output.size();
  if (end - start <= 3) return true;
  wchar_t extension[5] = {};
  for (std::size_t i = 0; i < 4; ++i) extension[i] = output.at(end - 4 + i);
  if (_wcsicmp(extension, L".exe") == 0) output.truncate(end - 4);
  return true;
}

bool append_program_directory(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  const std::size_t start = output.size();
  if (!expand_at_end(output, L"{PROGRAM}", environment)) return false;
  for (std::size_t i = output.size(); i > start; --i) {
    if (output.at(i - 1) == L'\\') {
      output.truncate(i - 1);
      break;
    }
  }
  return true;
}

void append_process_id(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  if (const std::optional<std::wstring> parent = environment.environment_value(parent_process_variable)) {
    if (parent->empty() || !std::all_of(parent->begin(), parent->end(), is_runtime_digit)) {
      fail_internal_limit("OSVARI_ONEFILE_PARENT does not hold a process id");
    }
    append_value(output, *parent);
    return;
  }
  const std::string text = std::to_string(static_cast<long>(environment.process_id()));
  for (const char byte : text) {
    const char single[2] = {byte, '\0'};
    wchar_t unit[2] = {};
    if (std::mbstowcs(unit, single, 2) != 1) fail_internal_limit("the process id text does not widen");
    append_value(output, std::wstring_view(unit, 1));
  }
}

bool append_folder(ExpansionOutput& output, RuntimeSpecEnvironment& environment, int folder) {
  wchar_t path[folder_path_capacity] = {};
  if (!environment.folder_path(folder, path)) return false;
  append_value(output, std::wstring_view(path, wcsnlen(path, folder_path_capacity)));
  trim_trailing_backslashes(output);
  return true;
}

void append_start_time(ExpansionOutput& output, RuntimeSpecEnvironment& environment) {
  if (const std::optional<std::wstring> start = environment.environment_value(start_time_variable)) {
    // The unpack directory is named after this value and deleted at the end of the run:
    // a separator here could point both outside the temporary directory.
    if (start->find_first_of(L"\\/") != std::wstring::npos) {
      fail_internal_limit("OSVARI_ONEFILE_START holds a path separator");
    }
    append_value(output, *start);
    return;
  }
  const std::wstring stamp = std::to_wstring(static_cast<long long>(environment.system_time()));
  if (stamp.size() >= time_stamp_capacity) fail_internal_limit("the time stamp does not fit in 1024 code units");
  environment.set_environment_value(widen_variable_name(start_time_variable).c_str(), stamp.c_str());
  append_value(output, stamp);
}

bool is_name(const wchar_t* name, const wchar_t* candidate) { return _wcsicmp(name, candidate) == 0; }

bool expand_placeholder(ExpansionOutput& output, const wchar_t* name, RuntimeSpecEnvironment& environment) {
  if (is_name(name, L"TEMP")) return append_temp_path(output, environment);
  if (is_name(name, L"PROGRAM")) {
    append_program(output, environment);
    return true;
  }
  if (is_name(name, L"PROGRAM_BASE")) return append_program_base(output, environment);
  if (is_name(name, L"PROGRAM_DIR")) return append_program_directory(output, environment);
  if (is_name(name, L"PID")) {
    append_process_id(output, environment);
    return true;
  }
  if (is_name(name, L"HOME")) return append_folder(output, environment, folder_profile);
  if (is_name(name, L"CACHE_DIR")) return append_folder(output, environment, folder_local_app_data);
  if (is_name(name, L"COMPANY")) {
    append_value(output, environment.company_name());
    return true;
  }
  if (is_name(name, L"PRODUCT")) {
    append_value(output, environment.product_name());
    return true;
  }
  if (is_name(name, L"VERSION")) {
    append_value(output, environment.version_text());
    return true;
  }
  if (is_name(name, L"TIME")) {
    append_start_time(output, environment);
    return true;
  }
  return false;  // unknown, or empty
}

// Expands `spec` after the text already in `output`; the nested "{PROGRAM}" of
// PROGRAM_BASE and PROGRAM_DIR runs through here too.
bool expand_at_end(ExpansionOutput& output, const wchar_t* spec, RuntimeSpecEnvironment& environment) {
  BoundedWideString<placeholder_name_capacity> name;
  bool collecting_name = false;
  for (const wchar_t* position = spec; *position != L'\0'; ++position) {
    const wchar_t unit = *position;
    if (unit == L'{') {
      name.clear();
      collecting_name = true;
    } else if (unit == L'}') {
      // A "}" outside a placeholder closes an empty name, which expands to nothing known.
      collecting_name = false;
      if (!expand_placeholder(output, name.c_str(), environment)) return false;
      name.clear();
    } else if (collecting_name) {
      if (!name.append(unit)) fail_internal_limit("a placeholder name does not fit in 1024 code units");
    } else if (!output.append(std::wstring_view(&unit, 1))) {
      return false;
    }
  }
  return true;  // a placeholder still open here is dropped
}

class SystemRuntimeSpecEnvironment final : public RuntimeSpecEnvironment {
 public:
  std::uint32_t temp_path(wchar_t* buffer, std::uint32_t capacity) override {
    return get_temp_path(buffer, capacity);
  }
  bool folder_path(int folder, wchar_t* buffer) override { return get_folder_path(folder, buffer); }
  const wchar_t* program() override {
    // A program entered through a narrow main() may have no wide vector at all.
    wchar_t** arguments = runtime_argument_vector();
    return arguments != nullptr && runtime_argument_count() > 0 ? arguments[0] : nullptr;
  }
  std::optional<std::wstring> environment_value(const char* name) override {
    return get_environment_value_narrow(name);
  }
  void set_environment_value(const wchar_t* name, const wchar_t* value) override {
    set_environment_variable(name, value);
  }
  std::uint32_t process_id() override { return current_process_id(); }
  std::uint64_t system_time() override { return system_time_as_file_time(); }
  const wchar_t* company_name() override { return build_company_name; }
  const wchar_t* product_name() override { return build_product_name; }
  const wchar_t* version_text() override { return build_version_text; }
};

}  // namespace

RuntimeSpecEnvironment& system_runtime_spec_environment() {
  static SystemRuntimeSpecEnvironment environment;
  return environment;
}

bool expand_runtime_spec(ExpansionOutput& output, const wchar_t* spec, RuntimeSpecEnvironment& environment) {
  output.truncate(0);
  if (spec == nullptr) return false;
  return expand_at_end(output, spec, environment);
}

}  // namespace osvari

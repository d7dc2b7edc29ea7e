#include "tools/pack/inputs/application_check.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pe/dll_entry_check.h"
#include "tools/pack/pe/program_check.h"

namespace osvari::pack {
namespace {

[[noreturn]] void fail_unreadable(const std::filesystem::path& path) {
  errno = 0;
  const std::ifstream probe(path, std::ios::binary);
  const int reason = errno != 0 ? errno : EIO;
  fail_bad_input("cannot read " + display_path(path) + ": " + std::generic_category().message(reason));
}

}  // namespace

CheckedApplication check_application(const std::filesystem::path& path) {
  const std::optional<ImageBytes> bytes = ImageBytes::from_file(path);
  if (!bytes) fail_unreadable(path);
  const ProgramImage program = check_program(*bytes);
  if (program.verdict == ProgramCheck::program) {
    return {ApplicationForm::program, program.subsystem == subsystem_console};
  }
  if (program.verdict != ProgramCheck::is_dll) {
    std::string message = "'";
    message += display_path(path);
    message += "' ";
    message += program_check_description(program.verdict);
    fail_bad_input(message);
  }
  const DllEntryCheck library = check_dll_entry(*bytes);
  if (library == DllEntryCheck::dll_with_run_code) return {ApplicationForm::library, false};
  std::string advice;
  if (library == DllEntryCheck::no_export_directory || library == DllEntryCheck::no_run_code_export) {
    advice = ": export extern \"C\" int run_code(int, wchar_t**) from it, or pack the program (.exe) instead";
  }
  fail_bad_input("main library '" + display_path(path) + "' " + std::string(dll_entry_check_description(library)) +
                 advice);
}

}  // namespace osvari::pack

#include "tools/pack/inputs/application_check.h"

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/read_failure.h"
#include "tools/pack/pe/dll_entry_check.h"
#include "tools/pack/pe/program_check.h"

namespace osvari::pack {

CheckedApplication check_application(const std::filesystem::path& path) {
  const std::optional<ImageBytes> bytes = ImageBytes::from_file(path);
  if (!bytes) fail_cannot_read(path);
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

#include "payload/main_library.h"

#include "base/error_reporting.h"
#include "base/shared_state.h"
#include "payload/missing_import.h"
#include "payload/unpack.h"
#include "platform/modules.h"
#include "platform/processes.h"

namespace osvari {

using RunCode = int (*)(int argument_count, wchar_t** argument_vector);

int run_main_library(int argument_count, wchar_t** argument_vector) {
  return run_main_library(unpack_directory().c_str(), argument_count, argument_vector);
}

int run_main_library(const wchar_t* directory, int argument_count, wchar_t** argument_vector) {
  add_dll_directory(directory);
  void* library = load_library(main_library_path());
  if (library == nullptr) {
    const std::uint32_t code = last_error();
    fatal_system_error("Error, load DLL.", code, missing_import_report(code, main_library_path()));
  }
  const auto run_code = reinterpret_cast<RunCode>(find_exported_function(library, "run_code"));
  if (run_code == nullptr) fatal_error("Error, DLL entry point not found.");
  return run_code(argument_count, argument_vector);
}

}  // namespace osvari

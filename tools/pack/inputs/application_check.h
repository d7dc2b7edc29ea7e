// The first input is the application: a program the launcher starts as it is, or a DLL
// exporting run_code that the launcher's own child loads. Its PE header decides which, never
// its name.
#pragma once

#include <filesystem>

namespace osvari::pack {

enum class ApplicationForm { library, program };

struct CheckedApplication {
  ApplicationForm form = ApplicationForm::library;
  bool console = false;  // a program for the console subsystem
};

// Reads only the PE headers and what says how the image is entered. Throws PackError (bad
// input) with what to do instead unless it is an x86-64 DLL exporting run_code or an x86-64
// GUI or console program with native code.
CheckedApplication check_application(const std::filesystem::path& path);

}  // namespace osvari::pack

// Handing the child process over to the packaged application's main library.
#pragma once

namespace osvari {

// Loads the main library from the unpack directory and returns what its run_code returns.
// Ends the process when the library cannot be loaded or lacks run_code.
int run_main_library(int argument_count, wchar_t** argument_vector);

// The same with `directory` added to the library search instead of the unpack directory.
int run_main_library(const wchar_t* directory, int argument_count, wchar_t** argument_vector);

}  // namespace osvari

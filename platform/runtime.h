// What the C runtime parsed before the entry, and how the process ends abnormally.
#pragma once

namespace osvari {

// The argument count and wide vector the runtime parsed from the command line at start-up.
int runtime_argument_count();
wchar_t** runtime_argument_vector();

// Copies the variable's value in the process environment (or its absence) into the runtime's
// own copy of the environment, which it took at start-up and which getenv reads: code loaded
// later in this process that shares this runtime would otherwise not see a change.
void copy_to_runtime_environment(const wchar_t* name);

// Flushes every stream and ends the process as abort does, without the runtime's own
// "abnormal program termination" text or message box.
[[noreturn]] void abort_quietly();

}  // namespace osvari

// The state that the main thread shares with the console control handler's thread.
#pragma once

#include <atomic>

#include "base/bounded_wide_string.h"
#include "platform/unique_handle.h"

namespace osvari {

inline constexpr std::size_t unpack_directory_capacity = 4096;
using UnpackDirectory = BoundedWideString<unpack_directory_capacity>;

// Written once by the run sequence before the console control handler is registered;
// read-only afterwards.
UnpackDirectory& unpack_directory();

// Raised once the attached data is open, right before the first entry is read: from then on
// the unpack directory may hold files of this run. Never lowered.
void raise_unpack_flag();
bool unpack_flag_raised();

// Parent role: set once this process has created the unpack directory, which is then its own
// to remove, also after a failure. Never cleared.
void mark_unpack_directory_created();
bool unpack_directory_created();

// Set once the run's files live in a cache folder that outlasts the run: from then on neither
// the end of the run nor a console event removes the unpack directory. Never cleared.
void mark_unpack_directory_kept();
bool unpack_directory_kept();

// Set right before the packed program itself is started as the child: it shares the console
// with this process and answers Ctrl-C and Ctrl-Break as it would alone. Never cleared.
void mark_child_runs_program();
bool child_runs_program();

// The running child, as seen by the console control handler. The main thread keeps its own
// handle to wait on and publishes a second handle here; whichever thread takes this second
// handle first owns it and closes it, so it is closed exactly once and never used after.
void publish_child_process(UniqueHandle handle);
UniqueHandle take_child_process();

}  // namespace osvari

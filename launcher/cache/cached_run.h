// The run of an executable packed for the extraction cache: its files live in
// "%LOCALAPPDATA%\osvari-onefile\<exe name>-<id>", unpacked by the first run and checked,
// repaired where needed and used by every later run.
#pragma once

#include "base/role.h"
#include "payload/application_kind.h"
#include "payload/cache_index.h"

namespace osvari {

// Parent: fills the cache folder (into a temporary sibling renamed into place when complete)
// or checks it and repairs what it must, then enters the main library in this same process
// and returns what run_code returns; what killed fills left beside the cache folder is swept
// while the application runs, and the cache itself stays. A packed program is instead started
// from the folder as the child, and its exit code returned; the sweep runs while it is awaited.
// Child (a process the application started of its own executable): enters the main library in
// the cache folder. Ends the process on any failure.
int run_cached(const Role& role, const CacheIndex& index, ApplicationKind kind, int argument_count,
               wchar_t** argument_vector);

}  // namespace osvari

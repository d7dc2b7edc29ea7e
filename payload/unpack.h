// Turning the file entries of the attached data into files below the unpack directory.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "base/role.h"
#include "payload/cache_index.h"
#include "payload/unpack_failure.h"
#include "payload/unpack_writer.h"
#include "payload/write_queue.h"

namespace osvari {

// Unpacking against a cache index: every entry must be the index's entry at the same place
// (name and size), and only those marked in `rewrite` (all, when null) are written.
struct UnpackPlan {
  const std::vector<CacheIndexEntry>& expected;
  const std::vector<bool>* rewrite = nullptr;
};

// Parent: writes every entry, up to the terminator, decoding on this thread while writer
// threads create and write the files. Child: reads only the first name and records the main library
// path. Ends the process on any failure, with the message of the first failing entry, once the
// writing thread has ended; with "Error, couldn't decode attached data." when the entries
// differ from the plan's index. A name that Windows takes for an earlier entry's file or for a
// folder on its path (or whose path holds an earlier file) ends the run with "Error, repeated
// file name in attached data." before any writer sees that entry.
void unpack_files(RoleKind role, const UnpackPlan* plan = nullptr);

// unpack_files over a queue and a file system of the caller's choosing, with one writer thread
// for each of `writers`; the failure is returned instead of reported. Every thread has ended
// when it returns.
UnpackFailure unpack_entries(RoleKind role, const UnpackPlan* plan, WriteQueue& queue,
                             std::span<UnpackTargets* const> writers);

// The first entry's target path (the main library, or the program for program data); empty when
// the attached data held no entry.
const wchar_t* main_library_path();

// Records the main library path as `directory` joined with `name`, without reading anything.
void set_main_library_path(std::wstring_view directory, std::wstring_view name);

// Bytes of file contents written since the latest unpacking in this process began; any thread
// may ask, at the cost of one relaxed atomic load.
std::uint64_t unpacked_bytes_written();

// Calls `hook` on the decoding thread of every unpacking in this process after each block of
// contents it passes on to the writers and after each 1 MiB of contents it skips (null: none).
void call_during_unpacking(void (*hook)());

// Stops the writing threads, if any run, after the piece each is writing, and waits until they
// have closed their files, so that nothing of this process holds the unpack directory: for a console
// event and for the exit after a failure. Unpacking in this process stays stopped.
void stop_unpacking();

}  // namespace osvari

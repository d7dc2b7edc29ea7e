// Removing the folders of runs that are over, which crashes and killed parents leave in the
// temporary directory and killed fills leave beside the cache: a few at each start, within a
// short budget, and the rest while the child runs (see sweep_while_waiting.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/finish/made_folder_record.h"
#include "paths/unpack_directory_name.h"
#include "platform/files.h"
#include "platform/unique_handle.h"

namespace osvari {

inline constexpr int sweep_removal_limit = 8;
inline constexpr int no_removal_limit = std::numeric_limits<int>::max();
inline constexpr int sweep_milliseconds = 30;
// Records of made folders tested at each start, within the same budget.
inline constexpr std::size_t record_check_limit = 4;

// The named object whose life marks a run as still going: the parent holds it open, and so do
// the child and what the child starts with inherited handles.
std::wstring in_use_mark_name(std::wstring_view directory_name);

class SweepOperations {
 public:
  virtual ~SweepOperations() = default;
  // The entries of `directory` named like unpack directories, as many as time allows.
  virtual bool list_candidates(const std::wstring& directory, std::vector<DirectoryEntry>& entries) = 0;
  // See made_folder_record.h: how the folder at `path` is recorded as made by this launcher.
  virtual MadeFolder made_state(const std::wstring& path) = 0;
  virtual bool is_marked_in_use(const std::wstring& directory_name) = 0;
  virtual std::uint64_t now() = 0;  // the system time, in the time stamp's units
  // See platform/processes.h: no value when no process with that id is running.
  virtual std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id) = 0;
  virtual bool is_owned_by_current_user(const std::wstring& path) = 0;
  // Removes the tree, and the record of its making once it is gone.
  virtual void remove_tree(const std::wstring& path, const std::function<bool()>& out_of_time) = 0;
  // Removes the directory only when it is empty, and drops the record of its making once it is
  // gone or shown to hold anything: a folder that was about to be made and holds something was
  // not made by this launcher.
  virtual void remove_if_empty(const std::wstring& path) = 0;
  // Asked between steps, from the removal's threads too: true ends the sweep.
  virtual bool out_of_time() = 0;
};

// Past its time, the start-up budget still lets this many steps (a file deleted, a folder or a
// record looked at) go: listing a large leftover can take the whole time, and a start that then
// deleted nothing would never get anywhere with it.
inline constexpr int sweep_steps_past_time = 32;

// A budget of `time` from now, then `steps_past_time` more asks: true once both are spent. It may
// be asked from several threads.
std::function<bool()> start_up_budget(std::chrono::milliseconds time, int steps_past_time);

// The binding that calls the system, with start_up_budget(sweep_milliseconds,
// sweep_steps_past_time) from its creation.
std::unique_ptr<SweepOperations> make_system_sweep_operations();
// The same with no budget: it stops once `stop` (asked from several threads) says so.
std::unique_ptr<SweepOperations> make_system_sweep_operations(std::function<bool()> stop);

// For a directory this launcher made (so its stamp is in this launcher's units): true when
// nothing shows its run to be going on: no in-use mark, a time stamp that is not in the future,
// and no running process with its id that started before its time stamp.
bool is_run_over(const std::wstring& directory_name, const UnpackDirectoryName& name, SweepOperations& system);

// Removes, from `directory` (in the "\\?\" form), the directories of finished runs that this
// launcher made and this user owns, except `own_name`; at most `removal_limit` per call and only
// while time is left. A folder recorded only as about to be made (its run was killed before it
// recorded the folder's identity, so before it wrote anything there) is removed only if empty. The entries are tried from the `rotation`-th on (modulo their number), so
// that folders that will not go do not take every call's turns. Another program's directory of
// the same name shape is never touched. Returns the names it set out to remove; what is left of
// them is tried on a later run.
std::vector<std::wstring> sweep_finished_runs(const std::wstring& directory, std::wstring_view own_name,
                                              SweepOperations& system, int removal_limit = sweep_removal_limit,
                                              std::uint64_t rotation = 0);

// Differs from one sweep to the next (the time in milliseconds): where in a listing it begins.
std::uint64_t sweep_rotation();

// A folder whose finished runs are swept, in the "\\?\" form, and the one name in it to leave.
struct SweepPlace {
  std::wstring directory;
  std::wstring own_name;
};

// The place that holds `unpack_directory` (left alone there).
SweepPlace place_beside(const std::wstring& unpack_directory);

// The places this process's start-up sweeps covered, in order, each once: those that the sweep
// while waiting goes on with.
std::vector<SweepPlace> places_swept_at_start();

// The start-up sweep: within one budget of sweep_milliseconds, removes finished runs' folders
// in `place`, which it adds to places_swept_at_start(), then drops up to record_check_limit
// stale records of made folders.
void sweep_at_start(const SweepPlace& place);

// Parent role, once its own directory exists: records it as made by this launcher and marks it
// in use for the life of this process and of the descendants it starts with inherited handles
// from then on.
void mark_in_use(const std::wstring& unpack_directory);

// sweep_at_start of the temporary directory that holds `unpack_directory`.
void sweep_beside(const std::wstring& unpack_directory);

// Both, one after the other.
void mark_and_sweep(const std::wstring& unpack_directory);

}  // namespace osvari

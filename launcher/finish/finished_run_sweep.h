// At the start of a parent run: removing the unpack directories of runs that are over, which
// crashes, killed parents and older launchers leave in the temporary directory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "paths/unpack_directory_name.h"
#include "platform/files.h"
#include "platform/unique_handle.h"

namespace osvari {

inline constexpr int sweep_removal_limit = 8;
inline constexpr int sweep_milliseconds = 30;

// The named object whose life marks a run as still going: the parent holds it open, and so do
// the child and what the child starts with inherited handles.
std::wstring in_use_mark_name(std::wstring_view directory_name);

class SweepOperations {
 public:
  virtual ~SweepOperations() = default;
  // The entries of `directory` named like unpack directories, as many as time allows.
  virtual bool list_candidates(const std::wstring& directory, std::vector<DirectoryEntry>& entries) = 0;
  // See made_folder_record.h: the folder at `path` is one this launcher recorded making.
  virtual bool is_made_by_this_launcher(const std::wstring& path) = 0;
  virtual bool is_marked_in_use(const std::wstring& directory_name) = 0;
  virtual std::uint64_t now() = 0;  // the system time, in the time stamp's units
  // See platform/processes.h: no value when no process with that id is running.
  virtual std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id) = 0;
  virtual bool is_owned_by_current_user(const std::wstring& path) = 0;
  // Removes the tree, and the record of its making once it is gone.
  virtual void remove_tree(const std::wstring& path, const std::function<bool()>& out_of_time) = 0;
  virtual bool out_of_time() = 0;
};

// The binding that calls the system, with a budget of sweep_milliseconds from its creation.
std::unique_ptr<SweepOperations> make_system_sweep_operations();

// For a directory this launcher made (so its stamp is in this launcher's units): true when
// nothing shows its run to be going on: no in-use mark, a time stamp that is not in the future,
// and no running process with its id that started before its time stamp.
bool is_run_over(const std::wstring& directory_name, const UnpackDirectoryName& name, SweepOperations& system);

// Removes, from `temp_directory` (in the "\\?\" form), the directories of finished runs that
// this launcher made and this user owns, except `own_name`; at most sweep_removal_limit per call
// and only while time is left. Another program's directory of the same name shape is never
// touched. Returns the names it set out to remove; what is left of them is tried on a later run.
std::vector<std::wstring> sweep_finished_runs(const std::wstring& temp_directory, std::wstring_view own_name,
                                              SweepOperations& system);

// Parent role, once its own directory exists: records it as made by this launcher and marks it
// in use for the life of this process and of the descendants it starts with inherited handles
// from then on.
void mark_in_use(const std::wstring& unpack_directory);

// Sweeps the temporary directory that holds `unpack_directory`, which it leaves alone.
void sweep_beside(const std::wstring& unpack_directory);

// Both, one after the other.
void mark_and_sweep(const std::wstring& unpack_directory);

}  // namespace osvari

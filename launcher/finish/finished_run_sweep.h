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
  virtual bool is_marked_in_use(const std::wstring& directory_name) = 0;
  // See platform/processes.h: no value when no process with that id is running.
  virtual std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id) = 0;
  virtual bool is_owned_by_current_user(const std::wstring& path) = 0;
  virtual void remove_tree(const std::wstring& path, const std::function<bool()>& out_of_time) = 0;
  virtual bool out_of_time() = 0;
};

// The binding that calls the system, with a budget of sweep_milliseconds from its creation.
std::unique_ptr<SweepOperations> make_system_sweep_operations();

// True when nothing shows the run of this directory to be going on: no in-use mark, and no
// running process with its id that started before its time stamp.
bool is_run_over(const std::wstring& directory_name, const UnpackDirectoryName& name, SweepOperations& system);

// Removes, from `temp_directory` (in the "\\?\" form), the directories of finished runs owned
// by this user, except `own_name`; at most sweep_removal_limit per call and only while time is
// left. Returns the names it set out to remove; what is left of them is tried on a later run.
std::vector<std::wstring> sweep_finished_runs(const std::wstring& temp_directory, std::wstring_view own_name,
                                              SweepOperations& system);

// Parent role, once its own directory exists: marks it in use for the life of this process and
// its descendants, then sweeps its temporary directory.
void mark_and_sweep(const std::wstring& unpack_directory);

}  // namespace osvari

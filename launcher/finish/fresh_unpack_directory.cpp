#include "launcher/finish/fresh_unpack_directory.h"

#include <algorithm>
#include <cwchar>

#include "base/error_reporting.h"
#include "launcher/finish/finished_run_sweep.h"
#include "launcher/finish/made_folder_record.h"
#include "launcher/finish/shutdown.h"
#include "paths/environment.h"
#include "paths/extended_length_path.h"
#include "paths/known_directories.h"
#include "paths/runtime_spec.h"
#include "paths/unpack_directory_name.h"
#include "payload/unpack.h"
#include "platform/processes.h"

namespace osvari {
namespace {

// The clock may not have moved since the name that was taken, so the next stamp is always larger.
std::wstring next_time_stamp(FreshDirectoryOperations& system) {
  std::uint64_t previous = 0;
  if (const std::optional<std::wstring> stamp = system.start_time()) previous = std::wcstoull(stamp->c_str(), nullptr, 10);
  return std::to_wstring(static_cast<long long>(std::max(system.system_time(), previous + 1)));
}

// A failed run leaves nothing behind; the file it was writing must let go of the directory.
void remove_unpack_directory_after_failure() {
  stop_unpacking();
  remove_own_unpack_directory();
}

}  // namespace

bool SystemFreshDirectoryOperations::expand(UnpackDirectory& directory) {
  return expand_runtime_spec(directory, unpack_directory_spec);
}

CreateDirectoryResult SystemFreshDirectoryOperations::create_directory(const wchar_t* path) {
  // Recorded before it exists, so that a run killed right after making it leaves a folder the
  // sweep can tell as this launcher's.
  const std::wstring full_path = extended_length_path(full_path_name(path));
  record_folder_to_make(full_path);
  const CreateDirectoryResult result = osvari::create_directory(path);
  if (result != CreateDirectoryResult::created) forget_made_folder(full_path);
  return result;
}

void SystemFreshDirectoryOperations::create_parent_directories(const wchar_t* path) {
  osvari::create_parent_directories(path);
}

std::optional<std::wstring> SystemFreshDirectoryOperations::start_time() {
  return get_environment_value_narrow(start_time_variable);
}

void SystemFreshDirectoryOperations::publish_start_time(const std::wstring& stamp) {
  set_environment_variable(widen_variable_name(start_time_variable).c_str(), stamp.c_str());
}

std::uint64_t SystemFreshDirectoryOperations::system_time() { return system_time_as_file_time(); }

FreshDirectoryOperations& system_fresh_directory_operations() {
  static SystemFreshDirectoryOperations operations;
  return operations;
}

FreshDirectoryResult create_fresh_unpack_directory(UnpackDirectory& directory, FreshDirectoryOperations& system) {
  for (int attempt = 0; attempt < fresh_directory_attempts; ++attempt) {
    if (attempt > 0) {
      system.publish_start_time(next_time_stamp(system));
      if (!system.expand(directory)) return FreshDirectoryResult::not_expanded;
    }
    CreateDirectoryResult result = system.create_directory(directory.c_str());
    if (result == CreateDirectoryResult::failed) {
      system.create_parent_directories(directory.c_str());
      result = system.create_directory(directory.c_str());
    }
    if (result == CreateDirectoryResult::created) return FreshDirectoryResult::created;
    if (result == CreateDirectoryResult::failed) return FreshDirectoryResult::failed;
  }
  return FreshDirectoryResult::failed;
}

void adopt_fresh_unpack_directory() {
  mark_unpack_directory_created();
  set_action_before_failure_exit(remove_unpack_directory_after_failure);
  // Listed as known, so unpacking never asks the system about the directory again.
  (void)ensure_directory(unpack_directory().c_str());
  mark_in_use(std::wstring(unpack_directory().view()));
}

}  // namespace osvari

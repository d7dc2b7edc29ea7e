// The parent's unpack directory is always one it has just created: anything already at the
// name (a folder someone filled, a file, a link elsewhere) is never used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/shared_state.h"
#include "platform/files.h"

namespace osvari {

inline constexpr int fresh_directory_attempts = 5;

class FreshDirectoryOperations {
 public:
  virtual ~FreshDirectoryOperations() = default;
  // Expands the name into `directory`; false when it cannot be expanded.
  virtual bool expand(UnpackDirectory& directory) = 0;
  virtual CreateDirectoryResult create_directory(const wchar_t* path) = 0;  // CreateDirectoryW
  virtual void create_parent_directories(const wchar_t* path) = 0;
  virtual std::optional<std::wstring> start_time() = 0;  // OSVARI_ONEFILE_START
  virtual void publish_start_time(const std::wstring& stamp) = 0;
  virtual std::uint64_t system_time() = 0;
};

// The real system, with the unpack directory's spec below TEMP; a caller that names its fresh
// directories elsewhere overrides `expand`.
class SystemFreshDirectoryOperations : public FreshDirectoryOperations {
 public:
  bool expand(UnpackDirectory& directory) override;
  CreateDirectoryResult create_directory(const wchar_t* path) override;
  void create_parent_directories(const wchar_t* path) override;
  std::optional<std::wstring> start_time() override;
  void publish_start_time(const std::wstring& stamp) override;
  std::uint64_t system_time() override;
};

FreshDirectoryOperations& system_fresh_directory_operations();

enum class FreshDirectoryResult { created, not_expanded, failed };

// `directory` holds the expansion made with a fresh time stamp. Creates it, its missing
// ancestors first when needed. When something is already there, publishes a later time stamp,
// expands again and tries the new name, up to five names in all.
FreshDirectoryResult create_fresh_unpack_directory(UnpackDirectory& directory, FreshDirectoryOperations& system);

// Once the run's directory (unpack_directory()) has been created: from then on it goes with the
// run however the run ends (a failure exit lets go of the file being written and removes it)
// and it is marked in use. The sweep of the finished runs beside it (sweep_beside) is left to the
// caller, which runs it where it holds nothing up.
void adopt_fresh_unpack_directory();

}  // namespace osvari

#include "tools/pack/output_files/held_folder.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "tools/pack/inputs/entry_names.h"

#ifdef _WIN32
#include "platform/files.h"
#include "platform/held_folders.h"
#include "platform/processes.h"
#include "tools/pack/output_files/system_problem.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

FolderStep folder_step(StepOutcome outcome, std::string problem = {}) {
  FolderStep step;
  step.outcome = outcome;
  step.problem = std::move(problem);
  return step;
}

FileStep file_step(StepOutcome outcome, std::string problem = {}) {
  FileStep step;
  step.outcome = outcome;
  step.problem = std::move(problem);
  return step;
}

}  // namespace

#ifdef _WIN32

// Windows: folders are held by handles that allow no deletion, so they cannot be renamed or
// removed while held; everything is opened, made and renamed relative to them (NtCreateFile and
// a rename with a root directory), and a temporary file that fails is removed through its own
// handle.
namespace {

class WindowsFile final : public HeldFile {
 public:
  explicit WindowsFile(UniqueFileHandle file) : file_(std::move(file)) {}

  bool write(std::string_view bytes, std::string& problem) override {
    while (!bytes.empty()) {
      const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 1U << 30));
      std::uint32_t written = 0;
      if (!write_file(file_.get(), bytes.data(), chunk, written)) {
        problem = system_problem(last_error());
        return false;
      }
      if (written == 0) {
        problem = "the disk took no more";
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  void allow_execution() override {}

  RawHandle handle() const { return file_.get(); }
  void remove() {
    mark_for_deletion(file_.get());
    file_.reset();
  }

 private:
  UniqueFileHandle file_;
};

class WindowsFolder final : public HeldFolder {
 public:
  explicit WindowsFolder(UniqueFileHandle folder) : folder_(std::move(folder)) {}

  FolderStep open_folder(const fs::path& name) override {
    return step_of(open_folder_inside(folder_.get(), name.native()));
  }
  FolderStep make_folder(const fs::path& name) override {
    return step_of(create_folder_inside(folder_.get(), name.native()));
  }

  FileStep create_file(const fs::path& name) override {
    HeldEntry created = create_file_inside(folder_.get(), name.native());
    switch (created.status) {
      case HeldEntryStatus::opened: {
        FileStep step = file_step(StepOutcome::done);
        step.file = std::make_unique<WindowsFile>(std::move(created.handle));
        return step;
      }
      case HeldEntryStatus::exists:
        return file_step(StepOutcome::exists);
      default:
        return file_step(StepOutcome::failed, system_problem(created.error));
    }
  }

  // By the file's own handle: whatever has its temporary name by now, the file itself is renamed.
  bool put_in_place(std::unique_ptr<HeldFile> file, const fs::path&, const fs::path& name,
                    std::string& problem) override {
    auto& written = static_cast<WindowsFile&>(*file);
    if (rename_inside(written.handle(), folder_.get(), name.native())) return true;
    problem = system_problem(last_error());
    written.remove();
    return false;
  }

  void discard(std::unique_ptr<HeldFile> file, const fs::path&) override {
    static_cast<WindowsFile&>(*file).remove();
  }

 private:
  static FolderStep step_of(HeldEntry entry) {
    switch (entry.status) {
      case HeldEntryStatus::opened: {
        FolderStep step = folder_step(StepOutcome::done);
        step.folder = std::make_unique<WindowsFolder>(std::move(entry.handle));
        return step;
      }
      case HeldEntryStatus::missing:
        return folder_step(StepOutcome::missing);
      case HeldEntryStatus::exists:
        return folder_step(StepOutcome::exists);
      case HeldEntryStatus::link:
        return folder_step(StepOutcome::link);
      case HeldEntryStatus::not_a_folder:
        return folder_step(StepOutcome::not_a_folder);
      case HeldEntryStatus::failed:
        break;
    }
    return folder_step(StepOutcome::failed, system_problem(entry.error));
  }

  UniqueFileHandle folder_;
};

}  // namespace

FolderStep hold_folder(const fs::path& directory) {
  HeldEntry held = hold_folder_at(directory.c_str());
  if (held.status != HeldEntryStatus::opened) return folder_step(StepOutcome::failed, system_problem(held.error));
  FolderStep step = folder_step(StepOutcome::done);
  step.folder = std::make_unique<WindowsFolder>(std::move(held.handle));
  return step;
}

fs::path component_name(std::u16string_view component) { return std::wstring(component.begin(), component.end()); }

#else

// POSIX: every folder is opened relative to the one before with O_NOFOLLOW, files are made with
// O_EXCL, and a file is renamed into place relative to its folder, which replaces a link of that
// name instead of writing through it.
namespace {

std::string errno_problem(int error) { return std::error_code(error, std::generic_category()).message(); }

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

// What has `name` inside `folder` now, a link itself rather than what it leads to.
std::optional<Identity> identity_at(int folder, const fs::path& name) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return Identity{status.st_dev, status.st_ino};
}

class PosixFile final : public HeldFile {
 public:
  explicit PosixFile(int descriptor) : descriptor_(descriptor) {
    struct stat status {};
    if (::fstat(descriptor_, &status) == 0) identity_ = Identity{status.st_dev, status.st_ino};
  }
  ~PosixFile() override { (void)close(); }

  bool write(std::string_view bytes, std::string& problem) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        problem = errno_problem(written < 0 ? errno : ENOSPC);
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  void allow_execution() override {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) return;
    const mode_t readable = status.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    (void)::fchmod(descriptor_, (status.st_mode & 07777) | (readable >> 2));
  }

  // 0, or the error of a close that failed (the data may not all have been written).
  int close() {
    if (descriptor_ < 0) return 0;
    return ::close(std::exchange(descriptor_, -1)) == 0 ? 0 : errno;
  }

  const std::optional<Identity>& identity() const { return identity_; }
  // This file still has `name` inside `folder`: nobody moved it away or put something in its place.
  bool is_at(int folder, const fs::path& name) const {
    return identity_ && identity_at(folder, name) == identity_;
  }

 private:
  int descriptor_;
  std::optional<Identity> identity_;
};

class PosixFolder final : public HeldFolder {
 public:
  explicit PosixFolder(int descriptor) : descriptor_(descriptor) {}
  ~PosixFolder() override { ::close(descriptor_); }

  FolderStep open_folder(const fs::path& name) override {
    const int folder = ::openat(descriptor_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder >= 0) {
      FolderStep step = folder_step(StepOutcome::done);
      step.folder = std::make_unique<PosixFolder>(folder);
      return step;
    }
    const int error = errno;
    if (error == ENOENT) return folder_step(StepOutcome::missing);
    struct stat status {};
    if (::fstatat(descriptor_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(status.st_mode)) return folder_step(StepOutcome::link);
      if (!S_ISDIR(status.st_mode)) return folder_step(StepOutcome::not_a_folder);
    }
    return folder_step(StepOutcome::failed, errno_problem(error));
  }

  FolderStep make_folder(const fs::path& name) override {
    if (::mkdirat(descriptor_, name.c_str(), 0777) != 0) {
      const int error = errno;
      if (error == EEXIST) return folder_step(StepOutcome::exists);
      return folder_step(StepOutcome::failed, errno_problem(error));
    }
    return open_folder(name);
  }

  FileStep create_file(const fs::path& name) override {
    // O_EXCL with O_CREAT refuses any name that exists, a link or a dangling link included.
    const int file = ::openat(descriptor_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file < 0) {
      const int error = errno;
      if (error == EEXIST) return file_step(StepOutcome::exists);
      return file_step(StepOutcome::failed, errno_problem(error));
    }
    FileStep step = file_step(StepOutcome::done);
    step.file = std::make_unique<PosixFile>(file);
    return step;
  }

  // A rename goes by name here: the name is checked to hold this file still just before, so that
  // what someone put in its place is neither taken as the output nor removed.
  bool put_in_place(std::unique_ptr<HeldFile> file, const fs::path& temporary_name, const fs::path& name,
                    std::string& problem) override {
    auto& written = static_cast<PosixFile&>(*file);
    if (!written.is_at(descriptor_, temporary_name)) {
      problem = "its temporary file " + display_path(temporary_name) + " was moved or replaced";
      return false;
    }
    int error = written.close();
    if (error == 0 && ::renameat(descriptor_, temporary_name.c_str(), descriptor_, name.c_str()) != 0) error = errno;
    if (error == 0) return true;
    problem = errno_problem(error);
    remove_if_ours(temporary_name, written.identity());
    return false;
  }

  void discard(std::unique_ptr<HeldFile> file, const fs::path& temporary_name) override {
    const std::optional<Identity> ours = static_cast<PosixFile&>(*file).identity();
    file.reset();
    remove_if_ours(temporary_name, ours);
  }

 private:
  void remove_if_ours(const fs::path& temporary_name, const std::optional<Identity>& ours) {
    if (ours && identity_at(descriptor_, temporary_name) == ours) ::unlinkat(descriptor_, temporary_name.c_str(), 0);
  }

  int descriptor_;
};

}  // namespace

FolderStep hold_folder(const fs::path& directory) {
  const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return folder_step(StepOutcome::failed, errno_problem(errno));
  FolderStep step = folder_step(StepOutcome::done);
  step.folder = std::make_unique<PosixFolder>(folder);
  return step;
}

fs::path component_name(std::u16string_view component) { return utf16_to_utf8(component); }

#endif

}  // namespace osvari::pack

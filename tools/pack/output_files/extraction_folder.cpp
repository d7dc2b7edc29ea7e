#include "tools/pack/output_files/extraction_folder.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

#ifdef _WIN32
#include <optional>

#include "platform/files.h"
#include "tools/pack/output_files/new_file.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

std::vector<std::u16string> split_entry_name(std::u16string_view name) {
  std::vector<std::u16string> components(1);
  for (char16_t unit : name) {
    if (unit == u'\\' || unit == u'/') {
      components.emplace_back();
    } else {
      components.back().push_back(unit);
    }
  }
  return components;
}

std::string joined(const fs::path& directory, const std::vector<std::u16string>& components, std::size_t count) {
  std::string text = display_path(directory);
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back('/');
    text.append(utf16_to_utf8(components[i]));
  }
  return text;
}

// Where a file is written until it is complete. A name that is taken (a left-over, a link
// someone planted) is passed over, never opened or removed.
std::string temporary_name(std::uint32_t attempt) { return ".osvari-extract-" + std::to_string(attempt) + ".partial"; }
constexpr std::uint32_t temporary_name_attempts = 100;

[[noreturn]] void fail_link(const std::string& path) {
  fail_bad_input("refusing to write through " + path + ": it is a link, which could lead outside the folder");
}

}  // namespace

#ifdef _WIN32

// Windows: each folder on the way is asked for its attributes, and a reparse point (a symbolic
// link or junction, also a Unix link seen through Wine) is never entered. Files are made anew
// under a name nothing has, with create-new semantics that refuse a link, and renamed into place,
// which replaces a link of that name instead of writing through it.
struct ExtractionFolder::State {
  fs::path root;
  fs::path target;
  fs::path temporary;
  std::string target_text;
  std::optional<NewFile> file;
  std::uint32_t next_temporary = 0;

  void abandon_file() {
    if (!file) return;
    file.reset();
    std::error_code ignored;
    fs::remove(temporary, ignored);
  }
};

ExtractionFolder::ExtractionFolder(const fs::path& directory) : state_(std::make_unique<State>()) {
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) fail_bad_input("cannot create " + display_path(directory) + ": " + error.message());
  state_->root = directory;
}

ExtractionFolder::~ExtractionFolder() { state_->abandon_file(); }

void ExtractionFolder::begin(std::u16string_view name) {
  const std::vector<std::u16string> components = split_entry_name(name);
  fs::path folder = state_->root;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    folder /= std::wstring(components[i].begin(), components[i].end());
    const std::optional<std::uint32_t> attributes = file_attributes(folder.c_str());
    if (!attributes) {
      if (create_directory(folder.c_str()) != CreateDirectoryResult::created) {
        fail_bad_input("cannot create " + joined(state_->root, components, i + 1));
      }
      continue;
    }
    if ((*attributes & attribute_reparse_point) != 0) fail_link(joined(state_->root, components, i + 1));
    if ((*attributes & attribute_directory) == 0) {
      fail_bad_input("cannot create a folder where the file " + joined(state_->root, components, i + 1) + " is");
    }
  }
  const std::u16string& leaf = components.back();
  state_->target = folder / std::wstring(leaf.begin(), leaf.end());
  state_->target_text = joined(state_->root, components, components.size());
  for (std::uint32_t attempt = 0; attempt < temporary_name_attempts && !state_->file; ++attempt) {
    state_->temporary = folder / temporary_name(state_->next_temporary++);
    state_->file = NewFile::create(state_->temporary, "cannot create a file beside " + state_->target_text);
  }
  if (!state_->file) fail_bad_input("cannot create a file beside " + state_->target_text);
}

void ExtractionFolder::write(std::string_view bytes) {
  std::string problem;
  if (!state_->file->write(bytes, problem)) {
    state_->abandon_file();
    fail_bad_input("cannot write " + state_->target_text + ": " + problem);
  }
}

void ExtractionFolder::finish() {
  std::string problem;
  if (!state_->file->close(problem)) {
    state_->abandon_file();
    fail_bad_input("cannot write " + state_->target_text + ": " + problem);
  }
  state_->file.reset();
  if (!move_replacing(state_->temporary.c_str(), state_->target.c_str())) {
    std::error_code ignored;
    fs::remove(state_->temporary, ignored);
    fail_bad_input("cannot write " + state_->target_text);
  }
}

#else

namespace {

[[noreturn]] void fail_system(const std::string& what, int error) {
  fail_bad_input(what + ": " + std::error_code(error, std::generic_category()).message());
}

}  // namespace

// POSIX: every folder is opened relative to the one before with O_NOFOLLOW, and the file is
// renamed into place, which replaces a link of that name instead of writing through it.
struct ExtractionFolder::State {
  std::string root_text;
  fs::path root;
  int root_descriptor = -1;
  int folder_descriptor = -1;
  int file_descriptor = -1;
  std::string target;
  std::string temporary;
  std::string target_text;
  std::uint32_t next_temporary = 0;

  void close_file() {
    if (file_descriptor >= 0) ::close(file_descriptor);
    file_descriptor = -1;
  }
  void close_folder() {
    if (folder_descriptor >= 0 && folder_descriptor != root_descriptor) ::close(folder_descriptor);
    folder_descriptor = -1;
  }
};

ExtractionFolder::ExtractionFolder(const fs::path& directory) : state_(std::make_unique<State>()) {
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) fail_bad_input("cannot create " + display_path(directory) + ": " + error.message());
  state_->root = directory;
  state_->root_descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (state_->root_descriptor < 0) fail_system("cannot open " + display_path(directory), errno);
}

ExtractionFolder::~ExtractionFolder() {
  if (state_->file_descriptor >= 0) {
    state_->close_file();
    ::unlinkat(state_->folder_descriptor, state_->temporary.c_str(), 0);
  }
  state_->close_folder();
  if (state_->root_descriptor >= 0) ::close(state_->root_descriptor);
}

void ExtractionFolder::begin(std::u16string_view name) {
  const std::vector<std::u16string> components = split_entry_name(name);
  state_->close_folder();
  int folder = state_->root_descriptor;
  const auto step_down = [&](int next) {
    if (folder != state_->root_descriptor) ::close(folder);
    folder = next;
  };
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    const std::string component = utf16_to_utf8(components[i]);
    int next = ::openat(folder, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(folder, component.c_str(), 0777) != 0 && errno != EEXIST) {
        const int error = errno;
        step_down(-1);
        fail_system("cannot create " + joined(state_->root, components, i + 1), error);
      }
      next = ::openat(folder, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      const int error = errno;
      struct stat status {};
      const bool is_link =
          ::fstatat(folder, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
      step_down(-1);
      if (is_link) fail_link(joined(state_->root, components, i + 1));
      fail_system("cannot open the folder " + joined(state_->root, components, i + 1), error);
    }
    step_down(next);
  }
  state_->folder_descriptor = folder;
  state_->target = utf16_to_utf8(components.back());
  state_->target_text = joined(state_->root, components, components.size());
  for (std::uint32_t attempt = 0; attempt < temporary_name_attempts; ++attempt) {
    state_->temporary = temporary_name(state_->next_temporary++);
    state_->file_descriptor =
        ::openat(folder, state_->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (state_->file_descriptor >= 0 || errno != EEXIST) break;
  }
  if (state_->file_descriptor < 0) fail_system("cannot create a file beside " + state_->target_text, errno);
}

void ExtractionFolder::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(state_->file_descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) fail_system("cannot write " + state_->target_text, written < 0 ? errno : ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void ExtractionFolder::finish() {
  const int closed = ::close(state_->file_descriptor);
  state_->file_descriptor = -1;
  const int folder = state_->folder_descriptor;
  if (closed != 0 || ::renameat(folder, state_->temporary.c_str(), folder, state_->target.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(folder, state_->temporary.c_str(), 0);
    fail_system("cannot write " + state_->target_text, error);
  }
}

#endif

}  // namespace osvari::pack

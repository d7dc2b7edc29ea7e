#include "tools/pack/output_files/new_file.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "tools/pack/pack_error.h"

#ifdef _WIN32
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/processes.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace osvari::pack {

#ifdef _WIN32

namespace {

constexpr std::uint32_t error_file_exists = 80;

std::string system_problem(std::uint32_t code) {
  std::string text = system_message_text(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace

std::optional<NewFile> NewFile::create(const std::filesystem::path& path, const std::string& what_fails) {
  NewFile made;
  made.file_ = create_new_file(path.c_str());
  if (made.file_.is_valid()) return made;
  const std::uint32_t error = last_error();
  if (error == error_file_exists) return std::nullopt;
  fail_bad_input(what_fails + ": " + system_problem(error));
}

NewFile::NewFile(NewFile&& other) noexcept = default;
NewFile& NewFile::operator=(NewFile&& other) noexcept = default;
NewFile::~NewFile() = default;

bool NewFile::write(std::string_view bytes, std::string& problem) {
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

bool NewFile::close(std::string&) {
  file_.reset();
  return true;
}

#else

namespace {

std::string errno_problem(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

std::optional<NewFile> NewFile::create(const std::filesystem::path& path, const std::string& what_fails) {
  NewFile made;
  // O_EXCL with O_CREAT refuses any name that exists, a link or a dangling link included.
  made.descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (made.descriptor_ >= 0) return made;
  if (errno == EEXIST) return std::nullopt;
  fail_bad_input(what_fails + ": " + errno_problem(errno));
}

NewFile::NewFile(NewFile&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

NewFile::~NewFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool NewFile::write(std::string_view bytes, std::string& problem) {
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

bool NewFile::close(std::string& problem) {
  if (descriptor_ < 0) return true;
  const int closed = ::close(std::exchange(descriptor_, -1));
  if (closed != 0) problem = errno_problem(errno);
  return closed == 0;
}

#endif

}  // namespace osvari::pack

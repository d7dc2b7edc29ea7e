// A Unix symbolic link at any Windows path, made from the Linux side: Wine's
// CreateSymbolicLinkW creates nothing. Removed again (the link only) when the object goes.
#pragma once

#include <string>

namespace osvari::testing {

// Runs `program` (a Unix program by its path on drive Z:) with `command_line` and waits until
// Wine reports it ended; what it did may show a moment later.
void run_unix_program(const wchar_t* program, std::wstring command_line);

// The Unix path Wine maps a Windows path to; empty when it cannot tell.
std::string unix_path_of(const std::wstring& windows_path);

class UnixLink {
 public:
  // Links `link` (whose parent directory must exist) to `target`. made() is false when the
  // link did not appear.
  UnixLink(const std::wstring& link, const std::wstring& target);
  ~UnixLink();
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;

  [[nodiscard]] bool made() const { return made_; }
  [[nodiscard]] const std::wstring& path() const { return link_; }

 private:
  std::wstring link_;
  std::string unix_link_;
  bool made_ = false;
};

}  // namespace osvari::testing

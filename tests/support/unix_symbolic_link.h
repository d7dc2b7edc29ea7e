// A Unix symbolic link made from inside Wine, for tests of paths that run through a link.
// Wine runs Unix programs given to CreateProcessW, and drive Z: is the Unix root.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/processes.h"

namespace osvari::testing {

class UnixDirectoryLink {
 public:
  // Links Z:\tmp\<name> to `target`, a directory on drive Z:. path() is empty when the target
  // is not on Z: or the link did not appear.
  UnixDirectoryLink(const std::wstring& name, const std::wstring& target) {
    if (target.size() < 3 || (target[0] != L'Z' && target[0] != L'z') || target.compare(1, 2, L":\\") != 0) return;
    unix_path_ = L"/tmp/" + name;
    std::wstring unix_target = target.substr(2);
    for (auto& unit : unix_target) unit = unit == L'\\' ? L'/' : unit;
    run_unix_program(L"Z:\\bin\\ln", L"ln -s \"" + unix_target + L"\" \"" + unix_path_ + L"\"");
    const std::wstring windows_path = L"Z:\\tmp\\" + name;
    if (wait_until(windows_path, true)) path_ = windows_path;
  }
  ~UnixDirectoryLink() {
    if (unix_path_.empty()) return;
    run_unix_program(L"Z:\\bin\\rm", L"rm -f \"" + unix_path_ + L"\"");
    wait_until(L"Z:\\tmp\\" + unix_path_.substr(5), false);
  }
  UnixDirectoryLink(const UnixDirectoryLink&) = delete;
  UnixDirectoryLink& operator=(const UnixDirectoryLink&) = delete;

  [[nodiscard]] const std::wstring& path() const { return path_; }

 private:
  static void run_unix_program(const wchar_t* program, std::wstring command_line) {
    const UniqueHandle process = create_process(program, command_line.data(), StandardHandles{});
    if (process.is_valid()) wait_for_object(process.get(), infinite_wait);
  }

  // The Unix program may still run when its Wine handle is signalled: wait for its effect.
  static bool wait_until(const std::wstring& path, bool exists) {
    for (int attempt = 0; attempt < 400; ++attempt) {
      if (is_existing_directory(path.c_str()) == exists) return true;
      sleep_milliseconds(25);
    }
    return false;
  }

  std::wstring unix_path_;
  std::wstring path_;
};

}  // namespace osvari::testing

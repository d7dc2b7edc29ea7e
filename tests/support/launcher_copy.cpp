#include "tests/support/launcher_copy.h"

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace osvari::testing {

std::wstring build_output_directory() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L'\\'));
}

std::wstring built_launcher_path() { return build_output_directory() + L"\\osvari-launcher.exe"; }

void make_launcher_copy(const std::wstring& target, std::optional<std::string_view> attached_data) {
  // The resource editor refuses an empty resource, so the build makes that launcher itself.
  const bool empty = attached_data && attached_data->empty();
  const std::wstring source =
      empty ? build_output_directory() + L"\\launcher_with_empty_resource.exe" : built_launcher_path();
  ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << "copy failed: " << GetLastError();
  if (!attached_data || empty) return;
  HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
  ASSERT_NE(update, nullptr) << "BeginUpdateResourceW failed: " << GetLastError();
  void* data = const_cast<char*>(attached_data->data());
  ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(27), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              data, static_cast<DWORD>(attached_data->size())))
      << "UpdateResourceW failed: " << GetLastError();
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE)) << "EndUpdateResourceW failed: " << GetLastError();
}

}  // namespace osvari::testing

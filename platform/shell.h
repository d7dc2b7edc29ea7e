// Shell services: argument splitting and known folders, from shell32, which is loaded on first use.
#pragma once

#include <cstdint>

namespace osvari {

// The arguments CommandLineToArgvW splits from a command line; owns the array. Not ok, with the
// system's reason, also when shell32 cannot be loaded.
class SplitArguments {
 public:
  explicit SplitArguments(const wchar_t* command_line);
  ~SplitArguments();
  SplitArguments(const SplitArguments&) = delete;
  SplitArguments& operator=(const SplitArguments&) = delete;

  [[nodiscard]] bool ok() const { return arguments_ != nullptr; }
  [[nodiscard]] std::uint32_t error() const { return error_; }  // why splitting failed
  [[nodiscard]] int count() const { return count_; }
  [[nodiscard]] const wchar_t* operator[](int index) const { return arguments_[index]; }

 private:
  wchar_t** arguments_ = nullptr;
  int count_ = 0;
  std::uint32_t error_ = 0;
};

inline constexpr int folder_profile = 40;          // CSIDL_PROFILE
inline constexpr int folder_local_app_data = 28;   // CSIDL_LOCAL_APPDATA
inline constexpr std::uint32_t folder_path_capacity = 260;  // MAX_PATH

// SHGetFolderPathW(no window, folder, no token, SHGFP_TYPE_CURRENT) into a buffer of
// folder_path_capacity code units; true when it returns S_OK.
bool get_folder_path(int folder, wchar_t* buffer);

}  // namespace osvari

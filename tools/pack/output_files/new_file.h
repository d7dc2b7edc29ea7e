// A file this process has just made: it is created only where nothing, not even a link, has
// the name yet, so what is written to it never reaches another file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#ifdef _WIN32
#include "platform/unique_handle.h"
#endif

namespace osvari::pack {

class NewFile {
 public:
  // The file made at `path`, or none when something is already there. Throws PackError (bad
  // input) with `what_fails` and the reason when it cannot be made for another reason.
  static std::optional<NewFile> create(const std::filesystem::path& path, const std::string& what_fails);

  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  // Writes all of `bytes`; false, with the reason in `problem`, when the system does not take them.
  bool write(std::string_view bytes, std::string& problem);
  // Closes the file; false, with the reason in `problem`, when that fails.
  bool close(std::string& problem);

 private:
  NewFile() = default;
#ifdef _WIN32
  UniqueFileHandle file_;
#else
  int descriptor_ = -1;
#endif
};

}  // namespace osvari::pack

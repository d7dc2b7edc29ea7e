#include "tests/support/temporary_directory.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "platform/win32.h"

namespace osvari::testing {

TemporaryDirectory::TemporaryDirectory() {
  static std::atomic<int> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / (L"osvari_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(counter++));
    if (std::filesystem::create_directory(path_)) return;
  }
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

}  // namespace osvari::testing

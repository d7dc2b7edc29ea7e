// End-to-end runs: a launcher copy carrying a test application, started in a private TEMP.
#pragma once

#include <string>
#include <vector>

#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {

// The bytes of a library the build made next to the test programs (e.g. L"hosted_app.dll").
std::string built_library(const std::wstring& file_name);

// A folder with a launcher copy and a TEMP folder of its own, so a test sees exactly which
// unpack folders a run leaves behind.
class OnefileFixture {
 public:
  explicit OnefileFixture(const std::vector<TestEntry>& entries, const std::wstring& exe_name = L"app.exe");
  explicit OnefileFixture(const std::string& attached_data, const std::wstring& exe_name = L"app.exe");

  [[nodiscard]] const std::wstring& launcher() const { return launcher_; }
  [[nodiscard]] std::filesystem::path temp_directory() const { return root_.path() / L"temp"; }

  // Runs the launcher with these arguments (each in command-line form).
  ProcessResult run(const std::vector<std::wstring>& arguments, ProcessOptions options = {}) const;

  // Names of the onefile_* folders in the private TEMP.
  [[nodiscard]] std::vector<std::wstring> unpack_directories() const;

 private:
  TemporaryDirectory root_;
  std::wstring launcher_;
};

// Lines of text, without carriage returns.
std::vector<std::string> lines_of(const std::string& text);

// The value after "key=" in the first line that starts with it, or "(missing)".
std::string value_of(const std::string& output, const std::string& key);

std::string fnv1a_hex(const std::string& bytes);

}  // namespace osvari::testing

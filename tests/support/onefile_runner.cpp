#include "tests/support/onefile_runner.h"

#include <cstdio>
#include <sstream>

#include "tests/support/launcher_copy.h"

namespace osvari::testing {

std::string built_library(const std::wstring& file_name) {
  return read_file(build_output_directory() + L"\\" + file_name);
}

OnefileFixture::OnefileFixture(const std::vector<TestEntry>& entries, const std::wstring& exe_name)
    : OnefileFixture(attached_data_for(entries), exe_name) {}

OnefileFixture::OnefileFixture(const std::string& attached_data, const std::wstring& exe_name) {
  launcher_ = root_ / exe_name;
  std::filesystem::create_directories(temp_directory());
  make_launcher_copy(launcher_, attached_data);
}

ProcessResult OnefileFixture::run(const std::vector<std::wstring>& arguments, ProcessOptions options) const {
  const std::wstring temp = temp_directory().wstring();
  options.environment.insert(options.environment.begin(), {{L"TEMP", temp}, {L"TMP", temp}});
  return run_program(launcher_, arguments, options);
}

std::vector<std::wstring> OnefileFixture::unpack_directories() const {
  std::vector<std::wstring> found;
  for (const auto& entry : std::filesystem::directory_iterator(temp_directory())) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.starts_with(L"onefile_")) found.push_back(name);
  }
  return found;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(without_carriage_returns(text));
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string value_of(const std::string& output, const std::string& key) {
  for (const auto& line : lines_of(output)) {
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  }
  return "(missing)";
}

std::string fnv1a_hex(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace osvari::testing

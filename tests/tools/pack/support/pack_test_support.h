// Running the built osvari-pack and reading what it wrote, for the host tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace osvari::testing {

// A fresh directory below the system's temporary directory, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

// Creates the parent directories as needed.
void write_file(const std::filesystem::path& path, std::string_view contents);
std::string read_file(const std::filesystem::path& path);

struct PackRun {
  int exit_code = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs the built osvari-pack with `arguments`, capturing both streams. With `obey_permissions`
// a run as root gives up its right to read and search anything (through setpriv), so that
// file permissions apply to it as to any user. With `working_directory` it runs there. With
// `program` it runs that copy of osvari-pack instead. With `address_space_limit` (bytes) it runs
// under that limit (through prlimit), so that a run that would allocate more fails instead.
PackRun run_pack(const std::vector<std::string>& arguments, bool obey_permissions = false,
                 const std::filesystem::path& working_directory = {}, const std::filesystem::path& program = {},
                 std::uint64_t address_space_limit = 0);

struct DecodedEntry {
  std::u16string name;
  std::string contents;
};

// Decodes the compressed stream between the header and the 13 trailing bytes with libzstd's
// streaming decoder and splits it into entries; fails the test on any deviation from the format.
std::vector<DecodedEntry> decode_attached_data(std::string_view attached_data);

std::u16string utf16(std::string_view utf8);

}  // namespace osvari::testing

#include "tests/tools/pack/support/pack_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/little_endian.h"
#include "tools/pack/inputs/entry_names.h"

namespace osvari::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "osvari-pack-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  // Tests may have taken permissions away; give them back so everything can go.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void write_file(const fs::path& path, std::string_view contents) {
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

PackRun run_pack(const std::vector<std::string>& arguments, bool obey_permissions,
                 const fs::path& working_directory, const fs::path& program, std::uint64_t address_space_limit) {
  TemporaryFolder streams;
  const std::string out = (streams / "stdout").string();
  const std::string err = (streams / "stderr").string();
  std::vector<std::string> all;
  if (obey_permissions && geteuid() == 0) all = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search"};
  if (address_space_limit != 0) {
    all.insert(all.end(), {"/usr/bin/prlimit", "--as=" + std::to_string(address_space_limit)});
  }
  all.push_back(program.empty() ? std::string(OSVARI_PACK_PROGRAM) : program.string());
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!working_directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  PackRun run;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  run.output = read_file(out);
  run.errors = read_file(err);
  return run;
}

std::vector<DecodedEntry> decode_attached_data(std::string_view data) {
  std::vector<DecodedEntry> entries;
  if (data.size() < 3 + 13 || data.substr(0, 3) != "KAY") {
    ADD_FAILURE() << "no attached data header";
    return entries;
  }
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  std::string decoded;
  std::vector<char> buffer(ZSTD_DStreamOutSize());
  ZSTD_inBuffer input{data.data() + 3, data.size() - 3 - 13, 0};
  std::size_t result = 0;
  bool output_full = false;
  // Go on while input remains or the last call filled the buffer: it may hold more output.
  do {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    result = ZSTD_decompressStream(context.get(), &output, &input);
    if (ZSTD_isError(result)) {
      ADD_FAILURE() << "decoding failed: " << ZSTD_getErrorName(result);
      return entries;
    }
    decoded.append(buffer.data(), output.pos);
    output_full = output.pos == output.size;
  } while (input.pos < input.size || output_full);
  EXPECT_EQ(result, 0u) << "the compressed stream does not end with a complete frame";

  std::size_t position = 0;
  const auto take = [&](std::size_t count) -> std::string_view {
    if (decoded.size() - position < count) throw std::runtime_error("decoded stream ends inside an entry");
    const std::string_view bytes(decoded.data() + position, count);
    position += count;
    return bytes;
  };
  try {
    for (;;) {
      DecodedEntry entry;
      for (;;) {
        const std::string_view unit = take(2);
        const auto value = static_cast<char16_t>(little_endian_value(unit));
        if (value == 0) break;
        entry.name.push_back(value);
      }
      if (entry.name.empty()) break;  // the terminator
      const std::uint64_t size = little_endian_value(take(8));
      entry.contents = std::string(take(size));
      entries.push_back(std::move(entry));
    }
  } catch (const std::exception& error) {
    ADD_FAILURE() << error.what();
  }
  EXPECT_EQ(position, decoded.size()) << "bytes after the terminator";
  return entries;
}

std::u16string utf16(std::string_view utf8) { return pack::utf8_to_utf16(utf8).value(); }

}  // namespace osvari::testing

// osvari-pack's command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osvari::pack {

struct PackOptions {
  bool help = false;
  int level = 0;    // compression level; 0 until parsed, then the library's default when not given
  int threads = 0;  // 1: compress on the calling thread only
  std::string output;
  std::optional<std::string> launcher;
  std::string main_library;
  std::vector<std::string> inputs;  // further files and directories

  // What the finished executable looks like; only with --launcher.
  bool console = false;
  std::optional<std::string> icon;
  std::optional<std::string> manifest;
  std::string company;  // UTF-8
  std::string product;
  std::string version;
};

inline constexpr int max_threads = 200;

// Arguments without the program name, as UTF-8 (Windows) or as the system gives them.
// `hardware_threads` is the default thread count. Throws PackError with exit_usage.
PackOptions parse_pack_arguments(const std::vector<std::string>& arguments, int hardware_threads);

std::string_view usage_text();

}  // namespace osvari::pack

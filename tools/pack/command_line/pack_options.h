// osvari-pack's command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osvari::pack {

// Packing is the default; the others read an existing exe or attached-data file.
enum class PackMode { pack, list, verify, extract };

struct PackOptions {
  bool help = false;
  bool tool_version = false;       // `--version` alone: print osvari-pack's own version
  PackMode mode = PackMode::pack;
  std::string inspected_file;      // list, verify, extract: the exe or attached-data file
  std::string extract_directory;   // extract: where the entries go
  bool quiet = false;              // no progress and no summary line
  std::optional<std::string> depfile;  // a Makefile-style list of every file and folder read
  int level = 0;    // compression level; 0 until parsed, then the library's default when not given
  int threads = 0;  // 1: compress on the calling thread only
  std::string output;
  std::optional<std::string> launcher;  // none: the one found relative to osvari-pack
  bool attached_data_only = false;      // write the attached data alone, no executable
  std::string main_library;  // the application: a program, or a DLL exporting run_code
  std::vector<std::string> inputs;  // further files and directories
  bool cache = false;  // run from a per-user cache folder, unpacked once

  // What the finished executable looks like; not with --attached-data-only.
  bool console = false;  // --console
  bool windows = false;  // --windows; with neither, a program keeps its subsystem, a library gets GUI
  std::optional<std::string> icon;
  std::optional<std::string> manifest;
  std::string company;  // UTF-8
  std::string product;
  std::string version;

  // What a windowed executable shows a person; not with --attached-data-only.
  bool no_error_dialog = false;     // --no-error-dialog
  bool no_progress_window = false;  // --no-progress-window
  std::optional<std::string> splash;  // --splash IMAGE
};

inline constexpr int max_threads = 200;

// Arguments without the program name, as UTF-8 (Windows) or as the system gives them.
// `hardware_threads` is the default thread count. Throws PackError with exit_usage.
PackOptions parse_pack_arguments(const std::vector<std::string>& arguments, int hardware_threads);

// The help text: the forms of the command line, then the options in two groups.
std::string usage_text();

}  // namespace osvari::pack

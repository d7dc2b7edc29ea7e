// Onefile executables: a copy of the launcher carrying attached data as RCDATA resource 27,
// with the application's subsystem, icon, version information and manifest.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/attached_data_layout.h"
#include "payload/window_options.h"
#include "tools/pack/pe/pe_editor.h"

namespace osvari::pack {

struct ExecutableOptions {
  bool console = false;  // console subsystem instead of the GUI subsystem
  std::optional<std::filesystem::path> icon;
  std::optional<std::filesystem::path> manifest;
  std::string company;  // UTF-8, as the version information shows them
  std::string product;
  std::string version;
  // A packed program, whose icons and version information the executable takes where the
  // options above give none of their own, so that it looks like the program.
  std::optional<std::filesystem::path> program;
  // What a windowed executable shows a person (RCDATA resource 28), and the splash image
  // (RCDATA resource 29) when one is given.
  WindowOptions window;
  std::optional<std::filesystem::path> splash;
};

// Reads `launcher` and makes its subsystem, icon, manifest and version information those of
// `options` (the file name shown is that of `output`), or the packed program's icons and
// version information where the options give none, before anything is compressed. Throws
// PackError (bad input) naming the file at fault.
PeEditor prepare_launcher(const std::filesystem::path& launcher, const std::filesystem::path& output,
                              const ExecutableOptions& options);

// Writes `output` as `launcher` with `attached_data` as RCDATA resource 27 in place of any
// earlier one; the output appears only when complete. Returns notes for the user (a dropped
// signature). Throws PackError (bad input) on failure.
std::vector<std::string> write_launcher_with_attached_data(PeEditor launcher, const std::filesystem::path& output,
                                                           std::string attached_data);

}  // namespace osvari::pack

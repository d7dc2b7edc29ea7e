// osvari-pack --list, --verify and --extract: reading an exe or attached-data file.
#pragma once

#include <filesystem>
#include <ostream>

#include "tools/pack/command_line/pack_options.h"

namespace osvari::pack {

// One line per entry (size, then name; the main library first) and a total line.
void list_attached_data(const std::filesystem::path& file, std::ostream& out);

// Decodes and checks everything, including every name; one "OK" line when all is well.
void verify_attached_data(const std::filesystem::path& file, std::ostream& out);

// Checks everything first, then writes every entry below `directory`, so bad data or an
// unsafe name leaves nothing written; ends with one line: the entries, their bytes and the folder.
void extract_attached_data(const std::filesystem::path& file, const std::filesystem::path& directory,
                           std::ostream& out);

// Each throws PackError (bad input) with one line naming the first problem.

// Runs the one of the three that `options` asks for, printing to standard output; the exit code.
int run_inspection(const PackOptions& options);

}  // namespace osvari::pack

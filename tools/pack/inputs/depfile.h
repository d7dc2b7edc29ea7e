// A Makefile-style depfile naming every file and folder that packing read, so that a build
// reruns the packing when a file changes and, through a folder's time stamp, when one is
// added, removed or renamed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/pack/inputs/pack_inputs.h"

namespace osvari::pack {

// The main library, every input file, every input folder and every folder below it (links to
// folders are not followed, as packing does not follow them), and every entry's file.
std::vector<std::filesystem::path> packing_dependencies(const std::filesystem::path& main_library,
                                                        const std::vector<std::filesystem::path>& inputs,
                                                        const std::vector<PackEntry>& entries);

// "target: dependency ..." with spaces, '#' and '$' escaped as Make and Ninja read them.
std::string depfile_text(const std::filesystem::path& target, const std::vector<std::filesystem::path>& dependencies);

// Writes the depfile; throws PackError (bad input) when it cannot.
void write_depfile(const std::filesystem::path& depfile, const std::filesystem::path& target,
                   const std::vector<std::filesystem::path>& dependencies);

}  // namespace osvari::pack

// Streams the entries' files through the compressor into attached data.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/inputs/pack_inputs.h"

namespace osvari::pack {

// Hands `sink` the header, the single compressed frame of all entries and the terminator, and
// the trailer, piece by piece as they are ready. File contents are read in chunks, never whole.
// Throws PackError (bad input) when a file cannot be read or no longer has its collected size.
// `input_read`, when given, hears of every chunk of file contents taken in, by its size.
// `with_cache_index` puts the cache index (payload/cache_index.h) before the frame: the
// executable then runs from a per-user cache folder instead of a fresh folder each time.
// `carries_program` says, in a record before the frame (payload/application_kind.h), that the
// first entry is a program the launcher starts itself rather than a main library.
void write_attached_data(const std::vector<PackEntry>& entries, const CompressionOptions& options,
                         const std::function<void(std::string_view)>& sink,
                         const std::function<void(std::uint64_t)>& input_read = {}, bool with_cache_index = false,
                         bool carries_program = false);

}  // namespace osvari::pack

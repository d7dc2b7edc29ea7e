// Decodes attached data from end to end and checks its whole form: header, frames (and their
// checksums where present), entries, terminator, the end of the frame after it, and the trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tools/pack/attached_data/attached_data_source.h"

namespace osvari::pack {

struct EntryHandlers {
  // Called with each entry's name and size before its contents; may throw PackError.
  std::function<void(std::u16string_view name, std::uint64_t size)> begin;
  std::function<void(std::string_view bytes)> contents;  // in order, in pieces of any size
  std::function<void()> end;
};

struct WalkSummary {
  std::uint64_t entries = 0;
  std::uint64_t content_bytes = 0;
  std::uint64_t frames = 0;
  bool checksummed = false;  // every frame carries a content checksum, and each matched
  std::string cache_id;      // packed for the extraction cache: the id its index gives
  bool program = false;      // the first entry is a program, as a record before the frames says
};

// A cache index before the frames is checked too: it must name the rest of the stream by its
// hash and list every entry's name and size in order. Throws PackError (bad input) with one
// line naming the first problem found.
WalkSummary walk_attached_data(const AttachedDataSource& source, const EntryHandlers& handlers);

}  // namespace osvari::pack

// Attached data for tests: entries encoded, compressed and wrapped as the packing tool does.
#pragma once

#include <string>
#include <vector>

#include "platform/modules.h"

namespace osvari::testing {

struct TestEntry {
  std::u16string name;
  std::string contents;
};

// The decoded stream: every entry, then (unless asked not to) the terminator.
std::string decoded_stream(const std::vector<TestEntry>& entries, bool with_terminator = true);

// "KAY", one frame of `decoded` at a fast level, and the trailer.
std::string attached_data_from_stream(const std::string& decoded);

std::string attached_data_for(const std::vector<TestEntry>& entries);

// The same, packed for the extraction cache: the cache index before the frame.
std::string cached_attached_data_for(const std::vector<TestEntry>& entries);

// A view of bytes that the reader can be opened over.
ResourceBytes as_resource(const std::string& bytes);

// `count` bytes that do not compress to almost nothing, different for each seed.
std::string varied_bytes(std::size_t count, unsigned seed = 1);

}  // namespace osvari::testing

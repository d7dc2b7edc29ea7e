// Attached data for tests: entries encoded, compressed and wrapped as the packing tool does.
#pragma once

#include <cstdint>
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

// The same for a program: the record that says the first entry is a program, then the frame;
// and that packed for the extraction cache.
std::string program_attached_data_for(const std::vector<TestEntry>& entries);
std::string cached_program_attached_data_for(const std::vector<TestEntry>& entries);

// An entry whose contents are made piece by piece, so that it may be larger than memory:
// the byte at offset i is generated_byte(i); or, when `literal` is given, those bytes.
struct GeneratedEntry {
  std::u16string name;
  std::uint64_t size = 0;
  std::string literal{};
};
char generated_byte(std::uint64_t offset);
std::string attached_data_generated(const std::vector<GeneratedEntry>& entries);

// A view of bytes that the reader can be opened over.
ResourceBytes as_resource(const std::string& bytes);

// `count` bytes that do not compress to almost nothing, different for each seed.
std::string varied_bytes(std::size_t count, unsigned seed = 1);

}  // namespace osvari::testing

// The attached data: resource 27 of the executable, "KAY" and a Zstandard stream of entries.
// Bytes are decoded on demand, in order, through one decode buffer, or for large reads straight
// into the reader's destination.
#pragma once

#include <cstdint>

#include "payload/application_kind.h"
#include "payload/attached_data_layout.h"
#include "payload/cache_index.h"
#include "platform/modules.h"

namespace osvari {

inline constexpr std::uint64_t decode_buffer_size = 131072;

// Locates the attached data in the executable; tests nothing yet.
void find_attached_data();

// The bytes find_attached_data located (none when it found none).
ResourceBytes found_attached_data();

// The cache index at the start of the compressed stream, when the header is there; absent
// otherwise (the header check then reports it).
CacheIndexResult read_attached_cache_index();

// What the attached data carries, when the header is there; a library otherwise (the header
// check then reports it).
ApplicationKind read_attached_application_kind();

// Checks the header, allocates the decode buffer and the decoder, and raises the unpack flag.
// Ends the process on any failure.
void open_attached_data();

// Opens the reader over bytes of the caller's choosing instead of the executable's resource.
void open_attached_data(ResourceBytes attached_data);

// Copies exactly `count` (at least 1) decoded bytes to `destination`, or ends the process.
void read_attached_data(void* destination, std::uint64_t count);

// The same, for a caller that reports the failure itself: false when the stream is damaged or
// ends before `count` bytes ("Error, couldn't decode attached data."); the bytes copied so far
// are then in `destination`.
bool try_read_attached_data(void* destination, std::uint64_t count);

// Decodes on to the end of the frame that holds the bytes read last, which verifies its content
// checksum where it carries one. Decoded bytes past them are dropped; the bytes after that
// frame are never decoded. Ends the process when the frame is damaged or does not end.
void confirm_attached_data_end();

void close_attached_data();

// How many times the decoder has been called since the reader was opened.
std::uint64_t decoder_call_count();

}  // namespace osvari

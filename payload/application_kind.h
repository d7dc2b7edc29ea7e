// What the attached data carries: a main library that the launcher's own child loads (the
// original form, which carries no record), or an ordinary program that the launcher starts
// itself. A program is announced by a record in a Zstandard skippable frame among those that
// open the compressed stream, after the cache index when there is one; decoders skip such
// frames, so a serial reader of the entries still reads them as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "payload/cache_index.h"

namespace osvari {

inline constexpr char application_kind_tag[4] = {'O', 'S', 'V', 'A'};
inline constexpr unsigned char application_kind_version = 1;
inline constexpr unsigned char application_kind_program = 1;

enum class ApplicationKind {
  library,  // no record: the first entry is a DLL exporting run_code
  program,  // the first entry is an executable, started as the child
  unknown,  // a record this launcher cannot read: a newer packing tool wrote it
};

namespace application_kind_detail {

// Every skippable frame magic number, 0x184D2A50 to 0x184D2A5F.
inline bool is_skippable_frame_magic(std::uint64_t magic) { return (magic & 0xFFFFFFF0U) == 0x184D2A50U; }

// Leading skippable frames looked at; the packing tool writes at most two.
inline constexpr int leading_frames_read = 8;

}  // namespace application_kind_detail

// Reads the record from the compressed stream (the attached data after its header). Only the
// skippable frames at its start are looked at; a frame of another tag is passed over.
inline ApplicationKind read_application_kind(const unsigned char* stream, std::size_t size) {
  using namespace application_kind_detail;
  using cache_index_detail::FieldReader;
  FieldReader frames(stream, size);
  for (int frame = 0; frame < leading_frames_read; ++frame) {
    if (!is_skippable_frame_magic(frames.number(4)) || frames.failed()) return ApplicationKind::library;
    const std::uint64_t frame_size = frames.number(4);
    const unsigned char* body = frames.bytes(static_cast<std::size_t>(frame_size));
    if (frames.failed()) return ApplicationKind::library;  // the decoder reports the damage
    if (frame_size < sizeof application_kind_tag ||
        std::memcmp(body, application_kind_tag, sizeof application_kind_tag) != 0) {
      continue;
    }
    FieldReader record(body + sizeof application_kind_tag, static_cast<std::size_t>(frame_size) - sizeof application_kind_tag);
    const std::uint64_t version = record.number(1);
    const std::uint64_t kind = record.number(1);
    if (record.failed() || !record.at_end() || version != application_kind_version || kind != application_kind_program) {
      return ApplicationKind::unknown;
    }
    return ApplicationKind::program;
  }
  return ApplicationKind::library;
}

// The skippable frame that announces a program.
inline std::string program_kind_frame() {
  std::string frame;
  const auto append_number = [&frame](std::uint32_t value) {
    for (int byte = 0; byte < 4; ++byte) frame.push_back(static_cast<char>((value >> (8 * byte)) & 0xFF));
  };
  append_number(cache_index_frame_magic);
  append_number(sizeof application_kind_tag + 2);
  frame.append(application_kind_tag, sizeof application_kind_tag);
  frame.push_back(static_cast<char>(application_kind_version));
  frame.push_back(static_cast<char>(application_kind_program));
  return frame;
}

}  // namespace osvari

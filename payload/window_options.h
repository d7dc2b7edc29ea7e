// What a windowed executable shows a person, chosen when it is packed: a record in RCDATA
// resource 28 (the failure dialog, the progress window, the unpacked size the progress bar
// counts towards) and the splash image as it was given, in RCDATA resource 29. An executable
// without the record shows both windows, with a progress bar that cannot count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/little_endian.h"

namespace osvari {

inline constexpr int window_options_resource_id = 28;
inline constexpr int splash_image_resource_id = 29;

inline constexpr char window_options_tag[4] = {'O', 'S', 'V', 'W'};
inline constexpr unsigned char window_options_version = 1;
inline constexpr unsigned char window_options_no_error_dialog = 0x01;
inline constexpr unsigned char window_options_no_progress_window = 0x02;
// Tag, version, flags, unpacked bytes.
inline constexpr std::size_t window_options_record_size = sizeof window_options_tag + 1 + 1 + 8;

struct WindowOptions {
  bool error_dialog = true;
  bool progress_window = true;
  std::uint64_t unpacked_bytes = 0;  // every entry's contents together; 0 when not known

  bool operator==(const WindowOptions&) const = default;
};

inline std::string window_options_record(const WindowOptions& options) {
  std::string record(window_options_tag, sizeof window_options_tag);
  record.push_back(static_cast<char>(window_options_version));
  unsigned char flags = 0;
  if (!options.error_dialog) flags |= window_options_no_error_dialog;
  if (!options.progress_window) flags |= window_options_no_progress_window;
  record.push_back(static_cast<char>(flags));
  append_little_endian(record, options.unpacked_bytes, 8);
  return record;
}

// The options a record holds; the defaults for a missing record, and for one of another tag,
// size or version, which a later packing tool may write and this launcher cannot read.
inline WindowOptions read_window_options(const unsigned char* record, std::size_t size) {
  if (record == nullptr || size != window_options_record_size ||
      std::memcmp(record, window_options_tag, sizeof window_options_tag) != 0 ||
      record[sizeof window_options_tag] != window_options_version) {
    return {};
  }
  const unsigned char flags = record[sizeof window_options_tag + 1];
  return {.error_dialog = (flags & window_options_no_error_dialog) == 0,
          .progress_window = (flags & window_options_no_progress_window) == 0,
          .unpacked_bytes = little_endian_value(record + sizeof window_options_tag + 2, 8)};
}

}  // namespace osvari

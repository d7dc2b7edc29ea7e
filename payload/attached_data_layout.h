// Where an executable carries its attached data and how that data begins and ends: what the
// launcher reads and osvari-pack writes.
#pragma once

#include <cstddef>
#include <string_view>

namespace osvari {

// The RCDATA resource that holds the attached data.
inline constexpr int attached_data_resource_id = 27;

// The bytes before the compressed stream.
inline constexpr std::string_view attached_data_header = "KAY";

// After the compressed stream: five zero bytes and the 64-bit little-endian count of the
// attached data's bytes before the trailer.
inline constexpr std::size_t attached_data_trailer_size = 13;

}  // namespace osvari

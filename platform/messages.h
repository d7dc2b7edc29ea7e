// System error texts.
#pragma once

#include <cstdint>
#include <string>

namespace osvari {

// The text FormatMessageA gives for a system error code in US English, exactly as
// returned (usually ending in "\r\n"); empty when the system has none.
std::string system_message_text(std::uint32_t code);

}  // namespace osvari

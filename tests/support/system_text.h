// The system's text for an error code as a one-line report shows it.
#pragma once

#include <string>

#include "platform/messages.h"

namespace osvari::testing {

// FormatMessageA's text without the "\r\n" it ends with.
inline std::string system_text_in_report(std::uint32_t code) {
  std::string text = system_message_text(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace osvari::testing

// A system error code as one line for the tool's messages (Windows).
#pragma once

#include <cstdint>
#include <string>

#include "platform/messages.h"

namespace osvari::pack {

inline std::string system_problem(std::uint32_t code) {
  std::string text = system_message_text(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace osvari::pack

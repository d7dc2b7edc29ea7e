#include "platform/messages.h"

#include "platform/win32.h"

namespace osvari {

std::string system_message_text(std::uint32_t code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = (text != nullptr) ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  return result;
}

}  // namespace osvari

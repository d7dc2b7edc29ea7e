#include "platform/message_box.h"

#include <string>

#include "platform/system_functions.h"

namespace osvari {

void show_error_message_box(std::wstring_view title, std::wstring_view text) {
  static const auto message_box = system_function<decltype(&MessageBoxW)>(L"user32.dll", "MessageBoxW");
  if (message_box == nullptr) return;
  const std::wstring title_text(title);
  const std::wstring body(text);
  // MB_SETFOREGROUND: started from Explorer, nothing else of this process has a window to be in front.
  (void)message_box(nullptr, body.c_str(), title_text.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace osvari

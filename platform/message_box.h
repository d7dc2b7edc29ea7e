// The message box that shows a failure to a person who cannot see the standard streams.
#pragma once

#include <string_view>

namespace osvari {

// MessageBoxW with an OK button and the error icon, owned by no window, in front of the
// others; returns once it is closed, at once when the system can show none.
void show_error_message_box(std::wstring_view title, std::wstring_view text);

}  // namespace osvari

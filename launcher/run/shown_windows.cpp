#include "launcher/run/shown_windows.h"

#include "base/error_reporting.h"
#include "launcher/run/unpack_progress_window.h"
#include "platform/message_box.h"
#include "platform/modules.h"
#include "platform/standard_streams.h"

namespace osvari {

const WindowOptions& own_window_options() {
  static const WindowOptions options = [] {
    const ResourceBytes record = find_own_rcdata_resource(window_options_resource_id);
    return read_window_options(record.data, static_cast<std::size_t>(record.size));
  }();
  return options;
}

std::span<const unsigned char> own_splash_image() {
  const ResourceBytes image = find_own_rcdata_resource(splash_image_resource_id);
  if (image.data == nullptr) return {};
  return {image.data, static_cast<std::size_t>(image.size)};
}

std::wstring window_title() {
  std::wstring title = own_product_name();
  return title.empty() ? own_executable_file_name() : title;
}

void show_failure_to_a_person(std::string_view line) {
  close_progress_window();
  if (!own_window_options().error_dialog || !own_executable_is_windowed() ||
      standard_output_or_error_leads_somewhere()) {
    return;
  }
  // Each byte of the line is one code unit below 256 (see narrow_for_message).
  std::wstring text;
  for (char byte : line) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
  show_error_message_box(window_title(), text);
}

void install_failure_dialog() { set_failure_notice(show_failure_to_a_person); }

}  // namespace osvari

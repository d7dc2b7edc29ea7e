#include "tests/support/sacrificial_area.h"

#include "platform/win32.h"

namespace osvari::testing {
namespace {

constexpr std::string_view canary_text = "canary";

}  // namespace

SacrificialArea::SacrificialArea() {
  wchar_t previous[32768];
  if (GetCurrentDirectoryW(32768, previous) != 0) previous_current_directory_ = previous;
  for (const auto& folder : {current(), work(), outside()}) {
    add_canary(folder / L"canary.txt");
    add_canary(folder / L"nested" / L"canary.txt");
  }
  SetCurrentDirectoryW(current().c_str());
}

SacrificialArea::~SacrificialArea() {
  if (!previous_current_directory_.empty()) SetCurrentDirectoryW(previous_current_directory_.c_str());
}

void SacrificialArea::add_canary(const std::filesystem::path& path) {
  write_file(path, canary_text);
  canaries_.push_back(path);
}

std::vector<std::wstring> SacrificialArea::harmed_canaries() const {
  std::vector<std::wstring> harmed;
  for (const auto& canary : canaries_) {
    if (read_file(canary) != canary_text) harmed.push_back(canary.wstring());
  }
  return harmed;
}

}  // namespace osvari::testing

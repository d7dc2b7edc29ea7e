// A fixed-capacity UTF-16 string that refuses text that does not fit instead of cutting it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace osvari {

// Capacity counts code units including the terminator, as the platform's buffers do:
// a BoundedWideString<N> holds at most N - 1 code units of text.
template <std::size_t Capacity>
class BoundedWideString {
  static_assert(Capacity >= 1);

 public:
  static constexpr std::size_t capacity() { return Capacity; }

  [[nodiscard]] std::size_t size() const { return length_; }
  [[nodiscard]] bool empty() const { return length_ == 0; }
  [[nodiscard]] const wchar_t* c_str() const { return units_.data(); }
  [[nodiscard]] std::wstring_view view() const { return {units_.data(), length_}; }
  [[nodiscard]] wchar_t operator[](std::size_t index) const { return units_[index]; }

  void clear() { truncate(0); }

  // Ends the text at `length`, which must not exceed the current size.
  void truncate(std::size_t length) {
    if (length > length_) return;
    length_ = length;
    units_[length_] = L'\0';
  }

  [[nodiscard]] bool fits(std::size_t extra_units) const { return extra_units < Capacity - length_; }

  [[nodiscard]] bool append(std::wstring_view text) {
    if (!fits(text.size())) return false;
    text.copy(units_.data() + length_, text.size());
    length_ += text.size();
    units_[length_] = L'\0';
    return true;
  }

  [[nodiscard]] bool append(wchar_t unit) { return append(std::wstring_view(&unit, 1)); }

  [[nodiscard]] bool assign(std::wstring_view text) {
    if (text.size() >= Capacity) return false;
    clear();
    return append(text);
  }

  // For platform calls that write into the buffer: the whole array, terminator slot included.
  [[nodiscard]] wchar_t* buffer() { return units_.data(); }

  // After a platform call wrote into buffer(): takes the text up to its terminator.
  // Returns false, leaving the string empty, when no terminator lies within the capacity.
  [[nodiscard]] bool adopt_written_text() {
    for (std::size_t i = 0; i < Capacity; ++i) {
      if (units_[i] == L'\0') {
        length_ = i;
        return true;
      }
    }
    clear();
    return false;
  }

 private:
  std::array<wchar_t, Capacity> units_{};
  std::size_t length_ = 0;
};

}  // namespace osvari

// Expansion of runtime specs: path templates such as "{TEMP}\onefile_{PID}_{TIME}".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/bounded_wide_string.h"

namespace osvari {

// What the placeholders read from the process and the system.
class RuntimeSpecEnvironment {
 public:
  virtual ~RuntimeSpecEnvironment() = default;

  // GetTempPathW into `buffer` of `capacity` code units; the result as the system gives it.
  virtual std::uint32_t temp_path(wchar_t* buffer, std::uint32_t capacity) = 0;
  // SHGetFolderPathW into a buffer of folder_path_capacity code units; true on S_OK.
  virtual bool folder_path(int folder, wchar_t* buffer) = 0;
  // argv[0] as the runtime parsed it; null when there is none.
  virtual const wchar_t* program() = 0;
  // get_environment_value_narrow.
  virtual std::optional<std::wstring> environment_value(const char* name) = 0;
  virtual void set_environment_value(const wchar_t* name, const wchar_t* value) = 0;
  virtual std::uint32_t process_id() = 0;
  // GetSystemTimeAsFileTime as one 64-bit number.
  virtual std::uint64_t system_time() = 0;
  virtual const wchar_t* company_name() = 0;
  virtual const wchar_t* product_name() = 0;
  virtual const wchar_t* version_text() = 0;
};

// The running process and the compiled-in application identity.
RuntimeSpecEnvironment& system_runtime_spec_environment();

// A caller's fixed buffer as the expansion writes it; every capacity check stays with the
// bounded string behind it.
class ExpansionOutput {
 public:
  virtual ~ExpansionOutput() = default;
  [[nodiscard]] virtual std::size_t size() const = 0;
  [[nodiscard]] virtual wchar_t at(std::size_t index) const = 0;
  [[nodiscard]] virtual bool append(std::wstring_view text) = 0;
  virtual void truncate(std::size_t length) = 0;
  // The room after the text, terminator slot included, for a platform call to write into.
  [[nodiscard]] virtual std::span<wchar_t> free_space() = 0;
  // After a write into free_space(): takes the text up to its terminator.
  [[nodiscard]] virtual bool adopt_written_text() = 0;
};

template <std::size_t Capacity>
class BoundedExpansionOutput final : public ExpansionOutput {
 public:
  explicit BoundedExpansionOutput(BoundedWideString<Capacity>& text) : text_(text) {}
  [[nodiscard]] std::size_t size() const override { return text_.size(); }
  [[nodiscard]] wchar_t at(std::size_t index) const override { return text_[index]; }
  [[nodiscard]] bool append(std::wstring_view text) override { return text_.append(text); }
  void truncate(std::size_t length) override { text_.truncate(length); }
  [[nodiscard]] std::span<wchar_t> free_space() override {
    return {text_.buffer() + text_.size(), Capacity - text_.size()};
  }
  [[nodiscard]] bool adopt_written_text() override { return text_.adopt_written_text(); }

 private:
  BoundedWideString<Capacity>& text_;
};

// Replaces `output` with the expansion of `spec`. Returns false when a placeholder name is
// unknown or empty (a "}" that closes no placeholder counts as an empty name), when a literal
// does not fit, when the temporary directory cannot be had or does not fit, or when a folder
// lookup fails; the output then holds the text produced so far. Ends the run at an internal
// limit when a placeholder's value does not fit, a name exceeds 1023 code units, argv[0] is
// missing, OSVARI_ONEFILE_PARENT is not all digits, or OSVARI_ONEFILE_START holds a path
// separator.
bool expand_runtime_spec(ExpansionOutput& output, const wchar_t* spec, RuntimeSpecEnvironment& environment);

template <std::size_t Capacity>
bool expand_runtime_spec(BoundedWideString<Capacity>& output, const wchar_t* spec,
                         RuntimeSpecEnvironment& environment) {
  BoundedExpansionOutput<Capacity> view(output);
  return expand_runtime_spec(view, spec, environment);
}

// The launcher's entry point: the expansion against the running process.
template <std::size_t Capacity>
bool expand_runtime_spec(BoundedWideString<Capacity>& output, const wchar_t* spec) {
  return expand_runtime_spec(output, spec, system_runtime_spec_environment());
}

}  // namespace osvari

// The one way osvari-pack reports failure: main prints the message and exits with the code.
#pragma once

#include <stdexcept>
#include <string>

namespace osvari::pack {

inline constexpr int exit_bad_input = 1;
inline constexpr int exit_usage = 2;

struct PackError : std::runtime_error {
  PackError(int code, const std::string& message) : std::runtime_error(message), exit_code(code) {}
  int exit_code;
};

[[noreturn]] inline void fail_bad_input(const std::string& message) { throw PackError(exit_bad_input, message); }
[[noreturn]] inline void fail_usage(const std::string& message) { throw PackError(exit_usage, message); }

}  // namespace osvari::pack

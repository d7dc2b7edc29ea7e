// Expectations on how a statement ends the process, checked in a child run of this program.
#pragma once

#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>

namespace osvari::testing {

// Death tests read the child's standard error; internal limits report on standard output.
inline void send_standard_output_to_standard_error() {
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
}

}  // namespace osvari::testing

// `what` is matched as a gtest simple regex: escape braces and brackets.
#define EXPECT_INTERNAL_LIMIT(statement, what)                                    \
  EXPECT_EXIT(                                                                    \
      {                                                                           \
        ::osvari::testing::send_standard_output_to_standard_error();              \
        statement;                                                                \
      },                                                                          \
      ::testing::ExitedWithCode(2), "^Error, internal limit reached: " what "\\.")

// abort() through the quiet path ends with status 3.
#define EXPECT_EXPAND_ERROR(statement, escaped_spec) \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(3), "^Error, couldn't runtime expand spec '" escaped_spec "'\\.")

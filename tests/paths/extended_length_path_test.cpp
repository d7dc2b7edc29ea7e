// The "\\?\" form of full paths, known answers.
#include "paths/extended_length_path.h"

#include <gtest/gtest.h>

namespace osvari {
namespace {

TEST(ExtendedLengthPath, KnownAnswers) {
  struct Case {
    const wchar_t* path;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\Users\\me\\Temp\\onefile_1_2", L"\\\\?\\C:\\Users\\me\\Temp\\onefile_1_2"},
      {L"z:\\tmp", L"\\\\?\\z:\\tmp"},
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"C:/Temp/onefile_1_2", L"\\\\?\\C:\\Temp\\onefile_1_2"},  // the prefixed form takes "/" literally
      {L"\\\\server\\share\\temp", L"\\\\?\\UNC\\server\\share\\temp"},
      {L"\\\\?\\C:\\already", L"\\\\?\\C:\\already"},
      {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
      {L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\name"},  // devices stay as they are
      {L"relative\\path", L"relative\\path"},
      {L"C:relative", L"C:relative"},
      {L"", L""},
  };
  for (const auto& entry : cases) EXPECT_EQ(extended_length_path(entry.path), entry.expected) << entry.path;
}

}  // namespace
}  // namespace osvari

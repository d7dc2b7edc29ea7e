// Entry names that could escape the unpack directory, or that Windows would change, are refused.
#include "payload/entry_name.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/entry_name_cases.h"

namespace osvari::testing {
namespace {

class EntryName : public ::testing::TestWithParam<EntryNameCase> {};

TEST_P(EntryName, IsSafeOnlyInsideTheUnpackDirectoryAndAsWindowsWouldStoreIt) {
  const std::wstring name(GetParam().name.begin(), GetParam().name.end());
  EXPECT_EQ(is_safe_entry_name(name), GetParam().safe) << std::filesystem::path(name).string();
}

INSTANTIATE_TEST_SUITE_P(Names, EntryName, ::testing::ValuesIn(entry_name_cases));

}  // namespace
}  // namespace osvari::testing

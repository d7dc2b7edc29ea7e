// Entry names that could escape the unpack directory are refused.
#include "payload/entry_name.h"

#include <gtest/gtest.h>

namespace osvari {
namespace {

struct NameCase {
  const wchar_t* name;
  bool safe;
};

class EntryName : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryName, IsJudgedSafeOnlyInsideTheUnpackDirectory) {
  EXPECT_EQ(is_safe_entry_name(GetParam().name), GetParam().safe);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryName,
    ::testing::Values(NameCase{L"main.dll", true}, NameCase{L"a\\b\\c.txt", true}, NameCase{L"a/b.txt", true},
                      NameCase{L"..data", true}, NameCase{L"a\\..b\\c", true}, NameCase{L"x..\\y", true},
                      NameCase{L"\u0416\\\u00e9.txt", true}, NameCase{L"..\\..\\x.dll", false},
                      NameCase{L"a/../../x.dll", false}, NameCase{L"a\\..", false}, NameCase{L"..", false},
                      NameCase{L"\\x.dll", false}, NameCase{L"/x.dll", false}, NameCase{L"C:x.dll", false},
                      NameCase{L"x.dll:stream", false}, NameCase{L"", false}));

}  // namespace
}  // namespace osvari

// Quoting of the child's arguments, checked against known answers and against the real
// CommandLineToArgvW, and the rebuilt command line with its limit of 32766 units of text.
#include "launcher/run/command_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace osvari {
namespace {

struct QuotingCase {
  const char* label;
  std::wstring argument;
  std::wstring quoted;
};

const std::vector<QuotingCase>& quoting_cases() {
  static const std::vector<QuotingCase> cases = {
      {"plain", L"plain", L"plain"},
      {"blank", L"a b", L"\"a b\""},
      {"tab", L"a\tb", L"\"a\tb\""},
      {"line_feed", L"a\nb", L"\"a\nb\""},
      {"vertical_tab", L"a\vb", L"\"a\vb\""},
      {"carriage_return_is_not_special", L"a\rb", L"a\rb"},
      {"quote", L"a\"b", L"\"a\\\"b\""},
      {"only_a_quote", L"\"", L"\"\\\"\""},
      {"two_quotes", L"\"\"", L"\"\\\"\\\"\""},
      {"one_backslash_before_quote", L"a\\\"b", L"\"a\\\\\\\"b\""},
      {"two_backslashes_before_quote", L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
      {"backslashes_unquoted_stay", L"C:\\dir\\sub\\", L"C:\\dir\\sub\\"},
      {"only_backslashes", L"\\\\\\", L"\\\\\\"},
      {"backslash_inside_quoted_stays", L"a\\b c", L"\"a\\b c\""},
      {"one_backslash_at_quoted_end", L"a b\\", L"\"a b\\\\\""},
      {"two_backslashes_at_quoted_end", L"a b\\\\", L"\"a b\\\\\\\\\""},
      {"blank_and_backslashes_before_quote", L"x \\\\\"", L"\"x \\\\\\\\\\\"\""},
      {"non_ascii", L"\u0416\u00e9", L"\u0416\u00e9"},
      {"non_ascii_with_blank", L"\u0416 \u00e9", L"\"\u0416 \u00e9\""},
      {"empty", L"", L"\"\""},
  };
  return cases;
}

class ArgumentQuoting : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(ArgumentQuoting, MatchesKnownAnswer) {
  BoundedWideString<256> target;
  ASSERT_TRUE(append_quoted_argument(target, GetParam().argument));
  EXPECT_EQ(std::wstring(target.view()), GetParam().quoted);
}

TEST_P(ArgumentQuoting, SplitsBackToTheOriginal) {
  BoundedWideString<256> command_line;
  ASSERT_TRUE(command_line.assign(L"program "));
  ASSERT_TRUE(append_quoted_argument(command_line, GetParam().argument));
  ASSERT_TRUE(command_line.append(L" after"));
  const SplitArguments split(command_line.c_str());
  ASSERT_TRUE(split.ok());
  ASSERT_EQ(split.count(), 3);
  EXPECT_EQ(std::wstring(split[1]), GetParam().argument);
  EXPECT_EQ(std::wstring(split[2]), L"after");
}

INSTANTIATE_TEST_SUITE_P(Table, ArgumentQuoting, ::testing::ValuesIn(quoting_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ArgumentQuoting, AllCasesInOneLineSplitBackInOrder) {
  auto command_line = std::make_unique<ChildCommandLine>();
  ASSERT_TRUE(command_line->assign(L"program"));
  for (const auto& entry : quoting_cases()) {
    ASSERT_TRUE(command_line->append(L' '));
    ASSERT_TRUE(append_quoted_argument(*command_line, entry.argument));
  }
  const SplitArguments split(command_line->c_str());
  ASSERT_TRUE(split.ok());
  ASSERT_EQ(split.count(), static_cast<int>(quoting_cases().size()) + 1);
  for (std::size_t index = 0; index < quoting_cases().size(); ++index) {
    EXPECT_EQ(std::wstring(split[static_cast<int>(index) + 1]), quoting_cases()[index].argument)
        << quoting_cases()[index].label;
  }
}

TEST(ArgumentQuoting, RefusesWhatDoesNotFitAndKeepsTheTarget) {
  struct Case {
    std::wstring argument;
    bool fits;
  };
  // Capacity 8: "ab" leaves room for 5 units of text before the terminator.
  const Case cases[] = {
      {L"cdefg", true},
      {L"cdefgh", false},
      {L"c e", true},      // "c e" quoted is 5 units
      {L"c ef", false},    // 6 units once quoted
      {L"", true},         // ""
      {L"a \\", false},    // "a \\" is 6 units: the doubled backslash must fit too
      {L"\"", true},       // "\"" is 4 units
  };
  for (const auto& entry : cases) {
    BoundedWideString<8> target;
    ASSERT_TRUE(target.assign(L"ab"));
    EXPECT_EQ(append_quoted_argument(target, entry.argument), entry.fits) << testing::PrintToString(entry.argument);
    if (!entry.fits) {
      EXPECT_EQ(std::wstring(target.view()), L"ab");
    }
  }
}

TEST(ChildCommandLine, ReplacesArgumentZeroAndKeepsEveryArgument) {
  auto target = std::make_unique<ChildCommandLine>();
  ASSERT_TRUE(target->assign(L"left over from before"));
  const CommandLineResult result =
      build_command_line(L"typed\\name.exe plain \"with blank\" \"\" a\\\"b \"\" last", L"C:\\Program Files\\app.exe",
                         *target);
  ASSERT_EQ(result.outcome, CommandLineOutcome::built);
  EXPECT_EQ(std::wstring(target->view()),
            L"\"C:\\Program Files\\app.exe\" plain \"with blank\" \"\" \"a\\\"b\" \"\" last");
}

TEST(ChildCommandLine, ModulePathWithoutBlankStaysUnquoted) {
  auto target = std::make_unique<ChildCommandLine>();
  const CommandLineResult result = build_command_line(L"\"C:\\some where\\x.exe\"", L"C:\\app.exe", *target);
  ASSERT_EQ(result.outcome, CommandLineOutcome::built);
  EXPECT_EQ(std::wstring(target->view()), L"C:\\app.exe");
}

TEST(ChildCommandLine, HoldsAtMost32766CodeUnits) {
  struct Case {
    const char* label;
    std::wstring argument;  // after "x ", with module path "M": length 2 + its quoted size
    CommandLineOutcome outcome;
  };
  const Case cases[] = {
      {"exactly_32766", std::wstring(32764, L'a'), CommandLineOutcome::built},
      {"one_more", std::wstring(32765, L'a'), CommandLineOutcome::does_not_fit},
      {"fits_only_unquoted", L"a " + std::wstring(32761, L'a'), CommandLineOutcome::does_not_fit},
      {"quoted_exactly_32766", L"a " + std::wstring(32760, L'a'), CommandLineOutcome::built},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    auto target = std::make_unique<ChildCommandLine>();
    // The process command line itself may hold more than the child's buffer.
    const std::wstring process_line = L"x \"" + entry.argument + L"\"";
    const CommandLineResult result = build_command_line(process_line.c_str(), L"M", *target);
    EXPECT_EQ(result.outcome, entry.outcome);
    if (entry.outcome == CommandLineOutcome::built) {
      EXPECT_EQ(target->size(), 32766u);
    }
  }
}

TEST(ProgramCommandLine, KeepsTheTailAfterTheProgramNameAsItStands) {
  struct Case {
    const wchar_t* command_line;
    const wchar_t* tail;
  };
  const Case cases[] = {
      {L"app.exe", L""},
      {L"", L""},
      {L"app.exe a b", L" a b"},
      {L"app.exe\t a  \"b c\" \"\" \"d\\\"e\"  ", L"\t a  \"b c\" \"\" \"d\\\"e\"  "},
      // Quotes open and close; the name ends at the first blank outside them, as the C runtime
      // reads it. No escapes inside the name.
      {L"\"C:\\My Apps\\app.exe\" x", L" x"},
      {L"\"C:\\dir\\\"x y", L" y"},
      {L"\"typed\"glued -l x", L" -l x"},
      {L"ty\"ped name\" x", L" x"},
      {L"\"unterminated name", L""},
      {L"C:\\tools\\app.exe\u00e9 \u00e9t\u00e9 \u0436", L" \u00e9t\u00e9 \u0436"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(command_line_tail(test.command_line), std::wstring_view(test.tail)) << test.command_line;
  }
}

TEST(ProgramCommandLine, QuotesTheProgramAndSeparatesTheTail) {
  auto target = std::make_unique<ChildCommandLine>();
  ASSERT_TRUE(build_program_command_line(L"C:\\t\\app.exe", L" a \"\"", *target));
  EXPECT_EQ(std::wstring(target->view()), L"\"C:\\t\\app.exe\" a \"\"");
  ASSERT_TRUE(build_program_command_line(L"C:\\app.exe", L"", *target));
  EXPECT_EQ(std::wstring(target->view()), L"\"C:\\app.exe\"");
  // A tail right after a quoted name still begins an argument of its own.
  ASSERT_TRUE(build_program_command_line(L"C:\\app.exe", L"x", *target));
  EXPECT_EQ(std::wstring(target->view()), L"\"C:\\app.exe\" x");
  // "P", a blank and the tail: at most 32766 code units.
  ASSERT_TRUE(build_program_command_line(L"P", std::wstring(32762, L'a'), *target));
  EXPECT_EQ(target->size(), 32766u);
  EXPECT_FALSE(build_program_command_line(L"P", std::wstring(32763, L'a'), *target));
  EXPECT_TRUE(target->empty());
}

}  // namespace
}  // namespace osvari

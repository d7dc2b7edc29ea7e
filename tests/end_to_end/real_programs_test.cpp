// Programs nobody here wrote — the Zstandard command-line program, the Lua interpreter with its
// DLL and scripts, PuTTY's key generator — packed as they are and started as a person would. What
// each reads, writes, prints and returns must be what the same program does when started directly
// from bin/real-programs/, and a run leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/little_endian.h"
#include "platform/win32.h"
#include "tests/support/console_interrupt.h"
#include "tests/support/executable_resources.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/sacrificial_area.h"

namespace osvari::testing {
namespace {

std::wstring packed_program(const std::wstring& name) {
  return build_output_directory() + L"\\" + name + L"-onefile.exe";
}

// The same program, laid out as it is packed, to run without the launcher.
std::wstring direct_program(const std::wstring& name, const std::wstring& file) {
  return build_output_directory() + L"\\real-programs\\" + name + L"\\" + file;
}

std::string narrow(const std::wstring& text) { return std::filesystem::path(text).string(); }

// Each case runs in a sacrificial area with a TEMP of its own, which must be empty afterwards:
// the unpack folder gone and nothing else left there; the canaries beside it untouched.
class RealProgram : public ::testing::Test {
 protected:
  RealProgram() { std::filesystem::create_directories(temp()); }

  void TearDown() override {
    std::vector<std::wstring> left;
    for (const auto& entry : std::filesystem::directory_iterator(temp())) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::wstring>{}) << "left in TEMP";
    EXPECT_EQ(area_.harmed_canaries(), std::vector<std::wstring>{});
  }

  [[nodiscard]] std::filesystem::path temp() const { return area_.work() / L"temp"; }

  // Starts `program` with the command line `program_name` + `tail`; `program_name` is the
  // program's quoted path and a space unless a case types another name.
  ProcessResult run(const std::wstring& program, const std::wstring& tail, ProcessOptions options = {},
                    const std::optional<std::wstring>& program_name = std::nullopt) const {
    options.environment.insert(options.environment.begin(), {{L"TEMP", temp().wstring()}, {L"TMP", temp().wstring()}});
    return run_process(program, program_name.value_or(L"\"" + program + L"\" ") + tail, options);
  }

  SacrificialArea area_;
};

template <typename Case>
class RealProgramWith : public RealProgram, public ::testing::WithParamInterface<Case> {};

// Text that compresses well, bytes that do not, and a run of zeros: a few MiB in all.
std::string zstd_input() {
  std::string bytes;
  for (int line = 0; bytes.size() < 1'500'000; ++line) {
    bytes += "line " + std::to_string(line) + " of text that compresses well, " + std::to_string(line * 7919) + "\n";
  }
  bytes += varied_bytes(1'500'000, 23);
  bytes.append(700'000, '\0');
  return bytes + varied_bytes(400'000, 24);
}

std::string first_difference(const std::string& actual, const std::string& expected) {
  std::size_t offset = 0;
  while (offset < actual.size() && offset < expected.size() && actual[offset] == expected[offset]) ++offset;
  return std::to_string(actual.size()) + " bytes against " + std::to_string(expected.size()) +
         ", the first difference at " + std::to_string(offset);
}

class RealProgramZstd : public RealProgram {};

TEST_F(RealProgramZstd, PipesBytesThroughStandardInputAndOutputUnchanged) {
  const std::string original = zstd_input();
  const ProcessResult compressed = run(packed_program(L"zstd"), L"-c", {.standard_input = original});
  ASSERT_EQ(compressed.exit_code, 0u) << compressed.standard_error;
  EXPECT_EQ(compressed.standard_error, "");
  EXPECT_LT(compressed.standard_output.size(), original.size() * 3 / 4);

  // One thread at one level: the program run directly writes the very same frame.
  const ProcessResult direct = run(direct_program(L"zstd", L"zstd.exe"), L"-c", {.standard_input = original});
  ASSERT_EQ(direct.exit_code, 0u) << direct.standard_error;
  EXPECT_TRUE(compressed.standard_output == direct.standard_output)
      << first_difference(compressed.standard_output, direct.standard_output);

  const ProcessResult decompressed =
      run(packed_program(L"zstd"), L"-d -c", {.standard_input = compressed.standard_output});
  ASSERT_EQ(decompressed.exit_code, 0u) << decompressed.standard_error;
  EXPECT_EQ(decompressed.standard_error, "");
  EXPECT_TRUE(decompressed.standard_output == original) << first_difference(decompressed.standard_output, original);
}

TEST_F(RealProgramZstd, WorksOnFilesNamedRelativeToTheCurrentDirectory) {
  // The sacrificial current directory is this process's, which both runs inherit.
  std::string text;
  for (int line = 0; line < 20'000; ++line) {
    text += "a line in the current directory, number " + std::to_string(line) + "\n";
  }
  write_file(area_.current() / L"input.txt", text);

  const ProcessResult packed = run(packed_program(L"zstd"), L"-q input.txt -o packed.zst");
  ASSERT_EQ(packed.exit_code, 0u) << packed.standard_error;
  const ProcessResult direct = run(direct_program(L"zstd", L"zstd.exe"), L"-q input.txt -o direct.zst");
  ASSERT_EQ(direct.exit_code, 0u) << direct.standard_error;
  const std::string written = read_file(area_.current() / L"packed.zst");
  EXPECT_FALSE(written.empty());
  EXPECT_TRUE(written == read_file(area_.current() / L"direct.zst"));
}

struct ZstdCase {
  const char* name;
  std::wstring tail;
  std::string input;
  std::uint32_t exit_code;  // what the program itself returns
};

void PrintTo(const ZstdCase& test, std::ostream* out) { *out << test.name; }

class RealProgramZstdRun : public RealProgramWith<ZstdCase> {};

TEST_P(RealProgramZstdRun, EndsAndReportsAsTheProgramDoesDirectly) {
  const ZstdCase& test = GetParam();
  const ProcessResult direct = run(direct_program(L"zstd", L"zstd.exe"), test.tail, {.standard_input = test.input});
  ASSERT_EQ(direct.exit_code, test.exit_code) << "the program as built: " << direct.standard_error;

  const ProcessResult packed = run(packed_program(L"zstd"), test.tail, {.standard_input = test.input});
  EXPECT_EQ(packed.exit_code, direct.exit_code);
  EXPECT_EQ(packed.standard_output, direct.standard_output);
  EXPECT_EQ(packed.standard_error, direct.standard_error);
}

INSTANTIATE_TEST_SUITE_P(RealPrograms, RealProgramZstdRun,
                         ::testing::Values(ZstdCase{"version", L"-V", "", 0},
                                           ZstdCase{"missing_input_file", L"-d -c no-such-file.zst", "", 1},
                                           ZstdCase{"not_a_frame", L"-d -c", "plain text, no frame", 1},
                                           ZstdCase{"unknown_option", L"--no-such-option", "", 1},
                                           ZstdCase{"test_of_a_good_frame", L"-t",
                                                    std::string("\x28\xB5\x2F\xFD\x20\x00\x01\x00\x00", 9), 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The Lua probe (tests/fixtures/lua_probe) is loaded from the program's own folder and takes
// its action from the first argument after "-".
std::wstring probe(const std::wstring& action) { return L"-l osvari_probe - " + action; }

struct ArgumentCase {
  const char* name;
  std::wstring tail;
  // What the program receives; cases whose bytes depend on the system's code page compare
  // with the direct run alone.
  std::optional<std::vector<std::string>> arguments;
  // The name the command line starts with, with its separator; unset: the quoted path and a space.
  std::optional<std::wstring> program_name{};
};

std::string probe_lines(const std::vector<std::string>& arguments) {
  std::string lines = "count " + std::to_string(arguments.size()) + "\n";
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    lines += "arg " + std::to_string(index + 1) + " " + std::to_string(arguments[index].size()) + " [" +
             arguments[index] + "]\n";
  }
  return lines;
}

void PrintTo(const ArgumentCase& test, std::ostream* out) { *out << test.name; }

class RealProgramLuaArguments : public RealProgramWith<ArgumentCase> {};

TEST_P(RealProgramLuaArguments, ArriveAsTheyDoWithoutTheLauncher) {
  const ArgumentCase& test = GetParam();
  const std::wstring tail = probe(L"args ") + test.tail;
  const ProcessResult direct = run(direct_program(L"lua", L"lua.exe"), tail, {}, test.program_name);
  ASSERT_EQ(direct.exit_code, 0u) << direct.standard_output << direct.standard_error;
  if (test.arguments) {
    ASSERT_EQ(without_carriage_returns(direct.standard_output), probe_lines(*test.arguments)) << "the program as built";
  }

  const ProcessResult packed = run(packed_program(L"lua"), tail, {}, test.program_name);
  EXPECT_EQ(packed.exit_code, 0u) << packed.standard_error;
  EXPECT_EQ(packed.standard_output, direct.standard_output);
  EXPECT_EQ(packed.standard_error, "");
}

using Arguments = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    RealPrograms, RealProgramLuaArguments,
    ::testing::Values(
        ArgumentCase{"plain", L"one two three", Arguments{"one", "two", "three"}},
        ArgumentCase{"none", L"", Arguments{}},
        ArgumentCase{"empty", L"\"\" middle \"\"", Arguments{"", "middle", ""}},
        ArgumentCase{"embedded_quotes", L"\"a \\\"b\\\" c\"", Arguments{"a \"b\" c"}},
        ArgumentCase{"trailing_backslashes", L"\"C:\\dir\\\\\" plain\\\\", Arguments{"C:\\dir\\", "plain\\\\"}},
        ArgumentCase{"backslashes_before_quotes", L"a\\\\\\\"b \"c\\\\\\\\\"", Arguments{"a\\\"b", "c\\\\"}},
        ArgumentCase{"whitespace_runs", L"  a\t\tb   ", Arguments{"a", "b"}},
        ArgumentCase{"unterminated_quote", L"\"open to the end ", Arguments{"open to the end "}},
        ArgumentCase{"doubled_quotes", L"\"a\"\"b\" \"\"\"\" x\"\"y", std::nullopt},
        ArgumentCase{"beyond_ascii", L"\u00e9t\u00e9 \u03a9 \"\u0416 \u65e5\u672c\" \U0001F600", std::nullopt},
        ArgumentCase{"typed_program_name", L"x \"y z\"", Arguments{"x", "y z"}, L"lua "},
        ArgumentCase{"program_name_with_spaces", L"x", Arguments{"x"}, L"\"typed name with spaces\" "},
        ArgumentCase{"program_name_ended_by_a_tab", L"x", Arguments{"x"}, L"typed\t"},
        ArgumentCase{"text_glued_to_a_quoted_program_name", L"x", Arguments{"x"}, L"\"typed\"glued "},
        ArgumentCase{"quotes_inside_a_program_name", L"x", Arguments{"x"}, L"ty\"ped name\" "}),
    [](const auto& info) { return std::string(info.param.name); });

class RealProgramLuaExitCode : public RealProgramWith<std::uint32_t> {};

TEST_P(RealProgramLuaExitCode, ArrivesInAll32Bits) {
  const std::int32_t as_lua_sees_it = static_cast<std::int32_t>(GetParam());
  const ProcessResult packed = run(packed_program(L"lua"), probe(L"exit " + std::to_wstring(as_lua_sees_it)));
  EXPECT_EQ(packed.exit_code, GetParam()) << packed.standard_output << packed.standard_error;
}

INSTANTIATE_TEST_SUITE_P(RealPrograms, RealProgramLuaExitCode,
                         ::testing::Values(0u, 1u, 3u, 255u, 256u, 259u, 300u, 0xC0000005u, 0xFFFFFFFFu));

class RealProgramLua : public RealProgram {};

TEST_F(RealProgramLua, FindsItsLibraryScriptsAndDataBesideItself) {
  // The current directory is the sacrificial one, which holds none of the program's files.
  const ProcessResult packed = run(packed_program(L"lua"), probe(L"where"));
  ASSERT_EQ(packed.exit_code, 0u) << packed.standard_output << packed.standard_error;
  EXPECT_EQ(packed.standard_error, "");

  const std::string folder = value_of(packed.standard_output, "folder");
  EXPECT_TRUE(folder.starts_with(temp().string() + "\\onefile_")) << folder;
  EXPECT_EQ(value_of(packed.standard_output, "argv0"), folder + "\\lua.exe");
  EXPECT_EQ(value_of(packed.standard_output, "module"), folder + "\\lua\\osvari_probe.lua");
  EXPECT_EQ(value_of(packed.standard_output, "greeting"), read_file(direct_program(L"lua", L"greeting.txt")));
  EXPECT_EQ(value_of(packed.standard_output, "OSVARI_ONEFILE_DIRECTORY"), narrow(build_output_directory()));
}

TEST_F(RealProgramLua, CtrlCEndsTheProgramAsItWouldWithoutTheLauncher) {
  const auto interrupted = [&](const std::wstring& program, const std::filesystem::path& ready_file) {
    return run_with_ctrl_c(
        [&] { return run(program, probe(L"wait \"" + ready_file.wstring() + L"\""), {.timeout_ms = 25'000}); },
        ready_file);
  };
  const InterruptedRun direct = interrupted(direct_program(L"lua", L"lua.exe"), area_.outside() / L"direct-ready.txt");
  const InterruptedRun packed = interrupted(packed_program(L"lua"), area_.outside() / L"packed-ready.txt");

  for (const InterruptedRun* run : {&direct, &packed}) {
    EXPECT_TRUE(run->ready);
    EXPECT_TRUE(run->generated) << run->generate_error;
    EXPECT_FALSE(run->result.timed_out) << run->result.standard_output << run->result.standard_error;
  }
  EXPECT_EQ(packed.result.exit_code, direct.result.exit_code);
  // Lua's first line names the program by its argv[0], and the traceback after it names the
  // script's path: both differ. What it says happened must not.
  const auto message = [](const std::string& text) {
    const std::string first_line = text.substr(0, text.find('\r'));
    return first_line.substr(first_line.find("lua.exe: ") == std::string::npos ? 0 : first_line.find("lua.exe: "));
  };
  EXPECT_EQ(message(direct.result.standard_error), "lua.exe: interrupted!") << "the program as built";
  EXPECT_EQ(message(packed.result.standard_error), message(direct.result.standard_error))
      << packed.result.standard_error;
}

TEST_F(RealProgramLua, StartsItselfAgainAsARunOfItsOwn) {
  const ProcessResult packed =
      run(packed_program(L"lua"), probe(L"popen \"\\\"" + packed_program(L"lua") + L"\\\" " + probe(L"where") + L"\""));
  ASSERT_EQ(packed.exit_code, 0u) << packed.standard_output << packed.standard_error;
  std::vector<std::string> folders;
  for (const std::string& line : lines_of(packed.standard_output)) {
    if (line.starts_with("folder=")) folders.push_back(line.substr(7));
  }
  ASSERT_EQ(folders.size(), 2u) << packed.standard_output;
  EXPECT_NE(folders[0], folders[1]) << "the inner run unpacks into a folder of its own";
  for (const std::string& folder : folders) EXPECT_TRUE(folder.starts_with(temp().string() + "\\onefile_")) << folder;
  EXPECT_EQ(value_of(packed.standard_output, "argv0"), folders[1] + "\\lua.exe");
}

struct NestedCase {
  const char* name;
  const wchar_t* program;
  std::wstring tail;
  std::uint32_t exit_code;
};

void PrintTo(const NestedCase& test, std::ostream* out) { *out << test.name; }

class RealProgramNested : public RealProgramWith<NestedCase> {};

// The packed Lua starts a packed program through the shell and ends with its exit code.
TEST_P(RealProgramNested, PassesTheInnerProgramsExitCodeOn) {
  const NestedCase& test = GetParam();
  const std::wstring inner = L"\\\"" + packed_program(test.program) + L"\\\" " + test.tail;
  const ProcessResult packed = run(packed_program(L"lua"), probe(L"popen \"" + inner + L"\""));
  EXPECT_EQ(packed.exit_code, test.exit_code) << packed.standard_output << packed.standard_error;
}

INSTANTIATE_TEST_SUITE_P(RealPrograms, RealProgramNested,
                         ::testing::Values(NestedCase{"itself", L"lua", probe(L"exit 300"), 300},
                                           NestedCase{"itself_all_ones", L"lua", probe(L"exit -1"), 0xFFFFFFFFu},
                                           NestedCase{"zstd_missing_file", L"zstd", L"-d -c no-such-file.zst", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SubsystemCase {
  const char* name;
  const wchar_t* program;
  const wchar_t* file;
  std::uint16_t subsystem;
};

void PrintTo(const SubsystemCase& test, std::ostream* out) { *out << test.name; }

class RealProgramSubsystem : public ::testing::TestWithParam<SubsystemCase> {};

TEST_P(RealProgramSubsystem, IsThePrograms) {
  const SubsystemCase& test = GetParam();
  ASSERT_EQ(image_kind_of(direct_program(test.program, test.file)).subsystem, test.subsystem) << "the program as built";
  const ImageKind packed = image_kind_of(packed_program(test.program));
  EXPECT_EQ(packed.subsystem, test.subsystem);
  EXPECT_EQ(packed.machine, IMAGE_FILE_MACHINE_AMD64);
}

INSTANTIATE_TEST_SUITE_P(RealPrograms, RealProgramSubsystem,
                         ::testing::Values(SubsystemCase{"zstd", L"zstd", L"zstd.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI},
                                           SubsystemCase{"lua", L"lua", L"lua.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI},
                                           SubsystemCase{"puttygen", L"puttygen", L"puttygen.exe",
                                                         IMAGE_SUBSYSTEM_WINDOWS_GUI}),
                         [](const auto& info) { return std::string(info.param.name); });

// The first icon group, one line per image it lists: its size, colours and the image's bytes.
std::vector<std::string> icon_images(const std::wstring& executable) {
  const ResourceImage image(executable);
  std::vector<std::string> lines;
  const std::vector<int> groups = image.numeric_ids(resource_type_group_icon);
  if (groups.empty()) return lines;
  const std::string group = image.resource(resource_type_group_icon, groups.front()).value_or("");
  constexpr std::size_t header_size = 6;
  constexpr std::size_t entry_size = 14;
  if (group.size() < header_size) return {"(group too short)"};
  const std::size_t count = little_endian_u16(group, 4);
  for (std::size_t index = 0; index < count && header_size + (index + 1) * entry_size <= group.size(); ++index) {
    const std::string_view entry = std::string_view(group).substr(header_size + index * entry_size, entry_size);
    const std::string bytes = image.resource(resource_type_icon, little_endian_u16(entry, 12)).value_or("(missing)");
    lines.push_back(std::to_string(little_endian_value(entry.substr(0, 1))) + "x" +
                    std::to_string(little_endian_value(entry.substr(1, 1))) + " " +
                    std::to_string(little_endian_u16(entry, 6)) + " bits " + fnv1a_hex(bytes));
  }
  return lines;
}

TEST(RealProgramWindowed, CarriesTheProgramsIconAndVersionInformation) {
  const std::wstring original = direct_program(L"puttygen", L"puttygen.exe");
  const std::wstring packed = packed_program(L"puttygen");

  const auto fields = version_fields(original);
  ASSERT_TRUE(fields.contains(L"FileDescription")) << "the program as built";
  EXPECT_EQ(version_fields(packed), fields);
  EXPECT_EQ(file_version_numbers(packed), file_version_numbers(original));

  const std::vector<std::string> icons = icon_images(original);
  ASSERT_FALSE(icons.empty()) << "the program as built";
  EXPECT_EQ(icon_images(packed), icons);
}

}  // namespace
}  // namespace osvari::testing

// An ordinary program packed as it is: osvari-pack gives the executable the program's look, and
// the launcher starts the unpacked program itself with the command-line tail as typed, its
// files beside it, and passes its exit code on; nothing is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "payload/application_kind.h"
#include "platform/win32.h"
#include "tests/support/console_interrupt.h"
#include "tests/support/executable_resources.h"
#include "tests/support/hex_units.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"
#include "tests/support/system_text.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::testing {
namespace {

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring built(const std::wstring& file_name) { return build_output_directory() + L"\\" + file_name; }

// A onefile executable made by the Windows osvari-pack from a program and its files, in a
// folder with a TEMP of its own, a canary beside it and a sacrificial current directory.
class PackedProgram {
 public:
  PackedProgram(const std::wstring& program, const std::vector<std::wstring>& options = {},
                const std::vector<std::pair<std::wstring, std::string>>& data = {}) {
    std::filesystem::create_directories(temp_directory());
    area_.add_canary(folder_.path() / L"canary.txt");
    std::vector<std::wstring> arguments = {L"--quiet", L"--level", L"1", L"--launcher", quoted(built_launcher_path())};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {L"--output", quoted(executable()), quoted(program)});
    for (const auto& [name, contents] : data) {
      const std::filesystem::path file = folder_.path() / L"data" / name;
      std::filesystem::create_directories(file.parent_path());
      write_file(file, contents);
    }
    if (!data.empty()) arguments.push_back(quoted((folder_.path() / L"data").wstring()));
    pack_result_ = run_program(built(L"osvari-pack.exe"), arguments);
  }

  [[nodiscard]] const ProcessResult& pack_result() const { return pack_result_; }
  [[nodiscard]] std::wstring executable() const { return (folder_.path() / L"app-onefile.exe").wstring(); }
  [[nodiscard]] std::filesystem::path temp_directory() const { return folder_.path() / L"temp"; }

  ProcessResult run(const std::vector<std::wstring>& arguments, ProcessOptions options = {}) const {
    add_private_temp(options);
    return run_program(executable(), arguments, options);
  }
  ProcessResult run_with_command_line(const std::wstring& command_line, ProcessOptions options = {}) const {
    add_private_temp(options);
    return run_process(executable(), command_line, options);
  }
  [[nodiscard]] bool left_nothing() const {
    return std::filesystem::is_empty(temp_directory()) && area_.harmed_canaries().empty();
  }

 private:
  void add_private_temp(ProcessOptions& options) const {
    const std::wstring temp = temp_directory().wstring();
    options.environment.insert(options.environment.begin(), {{L"TEMP", temp}, {L"TMP", temp}});
  }

  SacrificialArea area_;
  TemporaryDirectory folder_;
  ProcessResult pack_result_;
};

TEST(ProgramMode, TheExecutableLooksLikeTheProgramUnlessOptionsSayOtherwise) {
  const std::wstring program = built(L"hosted_program.exe");
  const PackedProgram plain(program);
  ASSERT_EQ(plain.pack_result().exit_code, 0u) << plain.pack_result().standard_error;
  EXPECT_EQ(image_kind_of(plain.executable()).subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  EXPECT_EQ(version_string(plain.executable(), L"ProductName"), L"Hosted Program");
  EXPECT_EQ(version_string(plain.executable(), L"CompanyName"), L"Hosted Company");
  EXPECT_EQ(ResourceImage(plain.executable()).resource(resource_type_group_icon, 1),
            ResourceImage(program).resource(resource_type_group_icon, 1));
  // The launcher's manifest stays: it is the launcher's process that it describes.
  EXPECT_NE(manifest_of(plain.executable()).find("longPathAware"), std::string::npos);

  const PackedProgram overridden(program, {L"--windows", L"--product", L"\"Other Name\""});
  ASSERT_EQ(overridden.pack_result().exit_code, 0u) << overridden.pack_result().standard_error;
  EXPECT_EQ(image_kind_of(overridden.executable()).subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(version_string(overridden.executable(), L"ProductName"), L"Other Name");
}

TEST(ProgramMode, RunsTheProgramBesideItsFilesAndPassesEveryExitCodeOn) {
  const PackedProgram packed(built(L"hosted_program.exe"), {},
                             {{L"greeting.txt", "hello"}, {L"nested\\deeper.bin", varied_bytes(70000, 5)}});
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;

  const ProcessResult listed = packed.run({L"--print-dir", L"--list-sizes"});
  EXPECT_EQ(listed.exit_code, 0u) << listed.standard_output << listed.standard_error;
  const std::string directory = value_of(listed.standard_output, "dir");
  EXPECT_TRUE(directory.starts_with(packed.temp_directory().string() + "\\onefile_")) << directory;
  const std::string output = without_carriage_returns(listed.standard_output);
  EXPECT_NE(output.find("file greeting.txt 5\n"), std::string::npos) << output;
  EXPECT_NE(output.find("file nested\\deeper.bin 70000\n"), std::string::npos) << output;
  EXPECT_NE(output.find("file hosted_program.exe "), std::string::npos) << output;

  for (const std::uint32_t code : {0u, 7u, 300u, 0x100u, 0xFFFFFFFFu, 0xC0000005u}) {
    const ProcessResult result = packed.run({L"--exit", std::to_wstring(code)});
    EXPECT_EQ(result.exit_code, code) << result.standard_output << result.standard_error;
    EXPECT_EQ(result.standard_error, "");
  }
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, TheCommandLineTailArrivesExactlyAsTyped) {
  const PackedProgram packed(built(L"hosted_program.exe"));
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;
  const std::wstring exe = packed.executable();
  struct TailCase {
    std::wstring command_line;
    std::wstring expected_tail;  // what follows the quoted program path
  };
  const std::wstring print = L"--print-command-line";
  const TailCase cases[] = {
      {quoted(exe) + L" " + print, L" " + print},
      {quoted(exe) + L" " + print + L" \"\" \"a b\" \"c\\\"d\" e\\ \"f\\\\\"", L" " + print + L" \"\" \"a b\" \"c\\\"d\" e\\ \"f\\\\\""},
      {quoted(exe) + L"\t" + print + L"   x  \t", L"\t" + print + L"   x  \t"},
      {quoted(exe) + L" " + print + L" \u00e9t\u00e9 \u03a9 \u0436 \"\u65e5 \u672c\"", L" " + print + L" \u00e9t\u00e9 \u03a9 \u0436 \"\u65e5 \u672c\""},
      {exe + L" " + print + L" plain", L" " + print + L" plain"},
      // Text glued to the quoted name belongs to the name, as the C runtime reads it.
      {quoted(exe) + L"glued " + print, L" " + print},
  };
  for (const TailCase& test : cases) {
    const ProcessResult result = packed.run_with_command_line(test.command_line);
    ASSERT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
    const std::string line = value_of(result.standard_output, "command_line");
    // The folder differs from run to run: compare what follows the program's quoted path.
    const std::string expected_tail = hex_units(test.expected_tail);
    ASSERT_GE(line.size(), expected_tail.size());
    EXPECT_EQ(line.substr(line.size() - expected_tail.size()), expected_tail) << hex_units(test.command_line);
    EXPECT_TRUE(line.starts_with(hex_units(L"\"" + packed.temp_directory().wstring() + L"\\onefile_"))) << line;
    EXPECT_NE(line.find(hex_units(L"\\hosted_program.exe\"")), std::string::npos) << line;
  }
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, TheProgramSeesTheHandshakeAndItsStandardInputByteForByte) {
  const PackedProgram packed(built(L"hosted_program.exe"));
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;
  std::uint32_t launcher_id = 0;
  const ProcessResult result = packed.run(
      {L"--print-env"}, {.before_start = [&](std::uint32_t process_id) { launcher_id = process_id; }});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_error;
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ONEFILE_PARENT"), std::to_string(launcher_id));
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ONEFILE_DIRECTORY"),
            std::filesystem::path(packed.executable()).parent_path().string());
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ORIGINAL_ARGV0"), std::filesystem::path(packed.executable()).string());

  TemporaryDirectory folder;
  const std::string bytes = varied_bytes(3'000'000, 9) + std::string("\r\n\n\x1a\0tail", 9);
  write_file(folder.path() / L"input.bin", bytes);
  const ProcessResult copied = packed.run({L"--copy-input"}, {.input_file = (folder.path() / L"input.bin").wstring()});
  EXPECT_EQ(copied.exit_code, 0u) << copied.standard_error;
  EXPECT_EQ(copied.standard_output.size(), bytes.size());
  EXPECT_TRUE(copied.standard_output == bytes);
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, AProgramThatStartsItsOwnOnefileExecutableStartsAParent) {
  const PackedProgram packed(built(L"hosted_program.exe"));
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;
  const ProcessResult result = packed.run({L"--start", quoted(packed.executable()), L"--print-dir", L"--exit", L"9"});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_NE(result.standard_output.find("start exit=9"), std::string::npos) << result.standard_output;
  EXPECT_TRUE(value_of(result.standard_output, "dir").starts_with(packed.temp_directory().string() + "\\onefile_"));
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, AProgramTheLoaderCannotStartFailsAsALaunchAndLeavesNothing) {
  const PackedProgram missing_dll(built(L"importing_program.exe"));
  ASSERT_EQ(missing_dll.pack_result().exit_code, 0u) << missing_dll.pack_result().standard_error;
  EXPECT_NE(missing_dll.pack_result().standard_error.find("imports imported_value.dll"), std::string::npos)
      << missing_dll.pack_result().standard_error;
  const ProcessResult failed = missing_dll.run({});
  EXPECT_EQ(failed.exit_code, 2u) << failed.standard_output << failed.standard_error;
  // The report stays as it was; the DLL the program imports and the folder lacks follows it.
  EXPECT_EQ(without_carriage_returns(failed.standard_error),
            "Error, couldn't launch child ([Error 126] " + system_text_in_report(126) +
                ")\nMissing DLL: imported_value.dll (imported by importing_program.exe)\n");
  EXPECT_TRUE(missing_dll.left_nothing());

  // The DLL packed beside the program is found there.
  OnefileFixture packed_by_hand(program_attached_data_for({{u"importing_program.exe", built_library(L"importing_program.exe")},
                                                           {u"imported_value.dll", built_library(L"imported_value.dll")}}));
  const ProcessResult loaded = packed_by_hand.run({});
  EXPECT_NE(loaded.exit_code, 2u) << loaded.standard_output << loaded.standard_error;
  EXPECT_EQ(loaded.standard_error, "");
  EXPECT_TRUE(packed_by_hand.unpack_directories().empty());

  OnefileFixture not_an_image(program_attached_data_for({{u"broken.exe", "MZ but nothing more"}}));
  const ProcessResult refused = not_an_image.run({});
  EXPECT_EQ(refused.exit_code, 2u) << refused.standard_output << refused.standard_error;
  EXPECT_TRUE(without_carriage_returns(refused.standard_error).starts_with("Error, couldn't launch child ([Error "))
      << refused.standard_error;
  EXPECT_TRUE(not_an_image.unpack_directories().empty());
}

TEST(ProgramMode, DataFromANewerToolIsRefusedInOneLine) {
  // A record of the program kind in a version this launcher does not know.
  std::string record = program_kind_frame();
  record[12] = 2;
  const std::string stream = record + pack::compress_frame(decoded_stream({{u"hosted_program.exe", "x"}}), {.level = 1});
  OnefileFixture onefile(pack::wrap_attached_data(stream));
  const ProcessResult result = onefile.run({});
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_EQ(without_carriage_returns(result.standard_output + result.standard_error),
            "Error, the attached data needs a newer launcher.\n");
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

TEST(ProgramMode, CtrlCIsTheProgramsToAnswerAndTheFolderGoesWhenItEnds) {
  const PackedProgram packed(built(L"hosted_program.exe"));
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;
  const auto ready_file = packed.temp_directory().parent_path() / L"ready.txt";

  // The console program shares this test's console with the launcher: both get the event. The
  // program goes on and ends in its own time; the launcher must wait for it.
  const InterruptedRun answered = run_with_ctrl_c(
      [&] {
        return packed.run({L"--ignore-ctrl-c", L"--write-parent", quoted(ready_file.wstring()), L"--sleep", L"3000",
                           L"--exit", L"7"},
                          {.timeout_ms = 25'000});
      },
      ready_file);
  EXPECT_TRUE(answered.ready);
  EXPECT_TRUE(answered.generated) << answered.generate_error;
  EXPECT_EQ(answered.result.exit_code, 7u) << answered.result.standard_output << answered.result.standard_error;
  EXPECT_TRUE(packed.left_nothing());

  std::filesystem::remove(ready_file);
  const InterruptedRun ended = run_with_ctrl_c(
      [&] {
        return packed.run({L"--write-parent", quoted(ready_file.wstring()), L"--sleep", L"30000"},
                          {.timeout_ms = 25'000});
      },
      ready_file);
  EXPECT_TRUE(ended.ready);
  EXPECT_FALSE(ended.result.timed_out);
  // The system's default handler ends the program: Windows with STATUS_CONTROL_C_EXIT, Wine with 0.
  EXPECT_TRUE(ended.result.exit_code == 0xC000013Au || ended.result.exit_code == 0u) << ended.result.exit_code;
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, AKilledParentsFolderStaysWhileTheProgramRunsAndGoesAfterIt) {
  const PackedProgram packed(built(L"hosted_program.exe"));
  ASSERT_EQ(packed.pack_result().exit_code, 0u) << packed.pack_result().standard_error;
  const auto parent_file = packed.temp_directory().parent_path() / L"parent.txt";
  std::thread orphaned([&] {
    (void)packed.run({L"--write-parent", quoted(parent_file.wstring()), L"--sleep", L"6000"}, {.timeout_ms = 60'000});
  });
  std::string parent_id;
  for (int attempt = 0; attempt < 400 && parent_id.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (std::filesystem::exists(parent_file)) parent_id = read_file(parent_file);
  }
  ASSERT_FALSE(parent_id.empty());
  const HANDLE parent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(parent_id));
  ASSERT_NE(parent, nullptr);
  TerminateProcess(parent, 9);
  WaitForSingleObject(parent, INFINITE);
  CloseHandle(parent);
  ASSERT_FALSE(packed.left_nothing());
  const auto orphaned_folder = std::filesystem::directory_iterator(packed.temp_directory())->path();

  // The program holds the folder's in-use mark: a later run leaves the folder alone.
  EXPECT_EQ(packed.run({L"--exit", L"0"}).exit_code, 0u);
  EXPECT_TRUE(std::filesystem::exists(orphaned_folder / L"hosted_program.exe"));

  orphaned.join();  // the program has ended once its output pipes have closed
  for (int start = 0; start < 5 && !packed.left_nothing(); ++start) EXPECT_EQ(packed.run({L"--exit", L"0"}).exit_code, 0u);
  EXPECT_TRUE(packed.left_nothing());
}

TEST(ProgramMode, ACachedProgramStartsFromTheCacheFolder) {
  OnefileFixture onefile(cached_program_attached_data_for(
      {{u"hosted_program.exe", built_library(L"hosted_program.exe")}, {u"data\\note.txt", "cached"}}));
  TemporaryDirectory local;
  const ProcessOptions options{.environment = {{L"LOCALAPPDATA", local.path().wstring()}}};
  for (int run = 0; run < 2; ++run) {
    const ProcessResult result = onefile.run({L"--print-dir", L"--list-sizes", L"--exit", L"300"}, options);
    EXPECT_EQ(result.exit_code, 300u) << result.standard_output << result.standard_error;
    const std::string directory = value_of(result.standard_output, "dir");
    EXPECT_TRUE(directory.starts_with(local.path().string() + "\\osvari-onefile\\app-")) << directory;
    EXPECT_NE(without_carriage_returns(result.standard_output).find("file data\\note.txt 6\n"), std::string::npos);
    EXPECT_TRUE(onefile.unpack_directories().empty());
  }
}

}  // namespace
}  // namespace osvari::testing

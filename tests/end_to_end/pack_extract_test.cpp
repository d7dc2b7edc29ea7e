// The Windows build of osvari-pack extracting under Wine: every entry below the folder, and
// never through a link found in it.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/processes.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/unix_link.h"
#include "tests/support/unix_symbolic_link.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

TEST(PackExtract, WritesEveryEntryAndNeverEntersALinkPlantedInTheFolder) {
  // Below Z:\tmp, where a Unix link can be planted; the link's target and the current directory
  // are sacrificial folders with canaries, inside the test's own folder.
  const std::wstring name = L"osvari-extract-test-" + std::to_wstring(current_process_id());
  const fs::path base = L"Z:\\tmp\\" + name;
  const fs::path target = base / L"target";
  write_file(base / L"outside" / L"canary.txt", "outside canary");
  write_file(base / L"cwd" / L"canary.txt", "cwd canary");
  fs::create_directories(target);
  const std::vector<TestEntry> entries = {
      {u"app.dll", varied_bytes(70000)}, {u"a.txt", "first"}, {u"nested\\b.txt", "second"}};
  write_file(base / L"app.attached", attached_data_for(entries));
  const std::wstring pack = build_output_directory() + L"\\osvari-pack.exe";
  const std::vector<std::wstring> arguments = {L"--extract", quoted(target.wstring()),
                                               quoted((base / L"app.attached").wstring())};
  const ProcessOptions options{.current_directory = (base / L"cwd").wstring()};

  {
    const UnixDirectoryLink link(name + L"/target/nested", (base / L"outside").wstring());
    ASSERT_FALSE(link.path().empty()) << "the link could not be made";
    const ProcessResult refused = run_program(pack, arguments, options);
    EXPECT_EQ(refused.exit_code, 1u);
    EXPECT_NE(refused.standard_error.find("refusing to write through"), std::string::npos) << refused.standard_error;
    EXPECT_NE(refused.standard_error.find("nested: it is a link"), std::string::npos) << refused.standard_error;
    EXPECT_EQ(read_file(base / L"outside" / L"canary.txt"), "outside canary");
    EXPECT_EQ(std::distance(fs::directory_iterator(base / L"outside"), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(base / L"outside" / L"b.txt"));
  }

  // Links at a file's name and at the temporary name it is first written under: the first is
  // replaced by the file, the second passed over; neither is written through.
  fs::remove(target / L"a.txt");
  const UnixLink file_link((target / L"a.txt").wstring(), (base / L"outside" / L"canary.txt").wstring());
  const UnixLink temporary_link((target / L".osvari-extract-0.partial").wstring(),
                                (base / L"outside" / L"canary.txt").wstring());
  ASSERT_TRUE(file_link.made() && temporary_link.made()) << "the links could not be made";
  const ProcessResult extracted = run_program(pack, arguments, options);
  EXPECT_EQ(extracted.exit_code, 0u) << extracted.standard_error;
  EXPECT_EQ(read_file(base / L"outside" / L"canary.txt"), "outside canary");
  EXPECT_EQ(read_file(target / L"app.dll"), entries[0].contents);
  EXPECT_EQ(read_file(target / L"a.txt"), "first");
  EXPECT_EQ(read_file(target / L"nested" / L"b.txt"), "second");
  EXPECT_EQ(read_file(base / L"cwd" / L"canary.txt"), "cwd canary");
  EXPECT_EQ(std::distance(fs::directory_iterator(base / L"cwd"), fs::directory_iterator()), 1);

  std::error_code ignored;
  fs::remove_all(base, ignored);
}

}  // namespace
}  // namespace osvari::testing

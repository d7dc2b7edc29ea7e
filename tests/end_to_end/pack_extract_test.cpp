// The Windows build of osvari-pack extracting under Wine: every entry below the folder, and
// never through a link found in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/files.h"
#include "platform/processes.h"
#include "tests/support/hooked_held_folder.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/unix_link.h"
#include "tests/support/unix_symbolic_link.h"
#include "tools/pack/output_files/extraction_folder.h"
#include "tools/pack/pack_error.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

struct RemovedAtEnd {
  fs::path path;
  ~RemovedAtEnd() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

TEST(PackExtract, WritesEveryEntryAndNeverEntersALinkPlantedInTheFolder) {
  // Below Z:\tmp, where a Unix link can be planted; the link's target and the current directory
  // are sacrificial folders with canaries, inside the test's own folder.
  const std::wstring name = L"osvari-extract-test-" + std::to_wstring(current_process_id());
  const fs::path base = L"Z:\\tmp\\" + name;
  // Declared before the links, so it removes the test's folder after they are gone, also when an
  // assertion ends the test early.
  const RemovedAtEnd folder{base};
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
}

// Runs `script` with the Unix shell, which acts on the file system as a local neighbour would,
// whatever this process holds open, and waits until `done` holds: the Unix program may still run
// when its Wine handle is signalled.
void run_shell(const std::wstring& script, const std::function<bool()>& done) {
  // dash itself: Wine does not start /bin/sh, which is a link to it.
  run_unix_program(L"Z:\\bin\\dash", L"dash -c \"" + script + L"\"");
  for (int attempt = 0; attempt < 400 && !done(); ++attempt) sleep_milliseconds(25);
  ASSERT_TRUE(done()) << fs::path(script).string();
}

bool is_present(const fs::path& path) { return file_attributes(path.c_str()).has_value(); }

// The extraction code of the Windows tool, with a neighbour who swaps a folder for a link to a
// folder outside before any one of its steps: every folder is held and everything is made and
// renamed through the handles, so nothing reaches the outside folder, whichever step it is.
TEST(PackExtract, AFolderSwappedForALinkBeforeAnyStepIsNeverWrittenThrough) {
  const std::wstring name = L"osvari-extract-swap-" + std::to_wstring(current_process_id());
  const fs::path base = L"Z:\\tmp\\" + name;
  // Declared before the links, so it removes the test's folder after they are gone, also when an
  // assertion ends the test early.
  const RemovedAtEnd folder{base};
  const std::wstring unix_base = L"/tmp/" + name;
  const std::vector<std::u16string> names = {u"app.dll", u"nested\\a.txt", u"nested\\deeper\\b.txt"};
  const auto extract = [&](const StepHook& hook) {
    std::string error;
    try {
      pack::FolderStep root = pack::hold_folder(base / L"target");
      if (!root.folder) return "cannot hold the folder: " + root.problem;
      pack::ExtractionFolder folder(base / L"target", std::make_unique<HookedHeldFolder>(std::move(root.folder), hook));
      for (const std::u16string& entry : names) {
        folder.begin(entry);
        folder.write("contents of " + std::string(entry.begin(), entry.end()));
        folder.finish();
      }
    } catch (const pack::PackError& failure) {
      error = failure.what();
    }
    return error;
  };
  fs::create_directories(base / L"target");
  std::size_t steps = 0;
  ASSERT_EQ(extract([&] { ++steps; }), "");
  ASSERT_GE(steps, 14u);

  for (const std::wstring swapped : {L"target", L"target/nested", L"target/nested/deeper"}) {
    for (std::size_t swap_before = 0; swap_before < steps; ++swap_before) {
      SCOPED_TRACE(fs::path(swapped).string() + " before step " + std::to_string(swap_before));
      // rm, unlike the runtime's removal under Wine, never enters a link.
      run_shell(L"rm -rf " + unix_base, [&] { return !is_present(base); });
      write_file(base / L"outside" / L"canary.txt", "outside canary");
      fs::create_directories(base / L"target");
      std::size_t step = 0;
      const std::wstring at = unix_base + L"/" + swapped;
      std::wstring windows_at = L"Z:" + at;
      std::replace(windows_at.begin(), windows_at.end(), L'/', L'\\');
      const std::string error = extract([&] {
        if (step++ != swap_before) return;
        run_shell(L"mkdir -p " + at.substr(0, at.rfind(L'/')) + L"; if [ -e " + at + L" ]; then mv " + at + L" " +
                      at + L".moved; fi; ln -s " + unix_base + L"/outside " + at,
                  [&] {
                    const auto attributes = file_attributes(windows_at.c_str());
                    return attributes && (*attributes & attribute_reparse_point) != 0;
                  });
      });
      EXPECT_EQ(read_file(base / L"outside" / L"canary.txt"), "outside canary") << error;
      EXPECT_EQ(std::distance(fs::directory_iterator(base / L"outside"), fs::directory_iterator()), 1) << error;
    }
  }
  run_shell(L"rm -rf " + unix_base, [&] { return !is_present(base); });
}

}  // namespace
}  // namespace osvari::testing

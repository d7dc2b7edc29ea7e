// The launcher osvari-pack finds relative to itself when none is given, and copies of the
// program in an installed tree, a moved tree and a folder of its own.
#include "tools/pack/inputs/default_launcher.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;

TEST(DefaultLauncher, LooksBesideTheToolThenInTheTreeThenInTheBuildFolders) {
  EXPECT_EQ(pack::launcher_candidates("/opt/osvari/bin", false),
            (Paths{"/opt/osvari/bin/osvari-launcher.exe", "/opt/osvari/share/osvari-onefile/osvari-launcher.exe"}));
  EXPECT_EQ(pack::launcher_candidates("/src/build/host/bin", true),
            (Paths{"/src/build/host/bin/osvari-launcher.exe", "/src/build/host/share/osvari-onefile/osvari-launcher.exe",
                   "/src/build/bin/osvari-launcher.exe", "/src/build/windows/bin/osvari-launcher.exe"}));
}

TEST(DefaultLauncher, TakesTheFirstFileThatExists) {
  const struct {
    const char* description;
    Paths files;  // relative to the test folder
    fs::path tool;
    const char* found;  // empty: none
  } cases[] = {
      {"installed", {"share/osvari-onefile/osvari-launcher.exe"}, "bin/osvari-pack",
       "share/osvari-onefile/osvari-launcher.exe"},
      {"beside the tool first", {"bin/osvari-launcher.exe", "share/osvari-onefile/osvari-launcher.exe"},
       "bin/osvari-pack.exe", "bin/osvari-launcher.exe"},
      {"the Windows build's tool for the build machine",
       {"windows/osvari-host-pack/CMakeCache.txt", "windows/bin/osvari-launcher.exe"},
       "windows/osvari-host-pack/bin/osvari-pack", "windows/bin/osvari-launcher.exe"},
      {"the host build beside the Windows build", {"host/CMakeCache.txt", "windows/bin/osvari-launcher.exe"},
       "host/bin/osvari-pack", "windows/bin/osvari-launcher.exe"},
      {"no build folder, no look beside it", {"windows/bin/osvari-launcher.exe"}, "host/bin/osvari-pack", ""},
      {"nothing there", {}, "bin/osvari-pack", ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    TemporaryFolder folder;
    for (const fs::path& file : test.files) write_file(folder / file, "x");
    const std::optional<fs::path> found = pack::find_default_launcher(folder / test.tool);
    if (*test.found == '\0') {
      EXPECT_FALSE(found) << *found;
    } else {
      EXPECT_EQ(found, (folder / test.found).lexically_normal());
    }
  }
  TemporaryFolder folder;
  fs::create_directories(folder / "bin/osvari-launcher.exe");
  EXPECT_FALSE(pack::find_default_launcher(folder / "bin/osvari-pack")) << "a folder is no launcher";
}

// Copies of the built osvari-pack, packing without --launcher.
class CopiedTool : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(folder / "app.dll", build_pe_image());
    fs::create_directories(folder / "out");
  }

  fs::path copy_tool(const fs::path& directory) {
    fs::create_directories(directory);
    fs::copy_file(OSVARI_PACK_PROGRAM, directory / "osvari-pack");
    return directory / "osvari-pack";
  }

  // Packs with `tool` and lists what it wrote with the same tool.
  std::string pack_and_list(const fs::path& tool) {
    const std::string output = (folder / "out/app.exe").string();
    const PackRun run = run_pack({"-q", "--level", "1", "-o", output, (folder / "app.dll").string()}, false, {}, tool);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    return run_pack({"--list", output}, false, {}, tool).output;
  }

  TemporaryFolder folder;
};

TEST_F(CopiedTool, PacksWithTheLauncherOfItsTreeWhereverTheTreeIs) {
  const fs::path tool = copy_tool(folder / "tree/bin");
  write_file(folder / "tree/share/osvari-onefile/osvari-launcher.exe", build_executable_image());
  EXPECT_NE(pack_and_list(tool).find("  app.dll\n"), std::string::npos);

  fs::rename(folder / "tree", folder / "moved tree");
  fs::remove(folder / "out/app.exe");
  EXPECT_NE(pack_and_list(folder / "moved tree/bin/osvari-pack").find("  app.dll\n"), std::string::npos);
}

TEST_F(CopiedTool, WithoutALauncherNamesTheWaysOnAndWritesNothing) {
  const fs::path tool = copy_tool(folder / "alone");
  const PackRun run = run_pack({"-o", (folder / "out/app.exe").string(), (folder / "app.dll").string()}, false, {}, tool);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.errors, "osvari-pack: no osvari-launcher.exe found beside osvari-pack (" + (folder / "alone").string() +
                            "), in ../share/osvari-onefile/ or in its build folder: give one with --launcher FILE, or "
                            "write the attached data alone with --attached-data-only\n");
  EXPECT_TRUE(fs::is_empty(folder / "out"));

  for (const char* option : {"--version", "-V"}) {
    const PackRun version = run_pack({option}, false, {}, tool);
    EXPECT_EQ(version.exit_code, 0) << option;
    EXPECT_EQ(version.output, std::string("osvari-pack ") + OSVARI_ONEFILE_VERSION + "\n") << option;
    EXPECT_EQ(version.errors, "") << option;
  }
  // -V is the tool's version alone, never a short --version for the executable.
  const PackRun short_with_value = run_pack({"-V", "1.2", "-o", (folder / "out/app.exe").string(),
                                             (folder / "app.dll").string()}, false, {}, tool);
  EXPECT_EQ(short_with_value.exit_code, 2);
  EXPECT_EQ(short_with_value.errors, "osvari-pack: unknown option -V (see --help)\n");
}

}  // namespace
}  // namespace osvari::testing

// The depfile osvari-pack writes for build tools: every file and folder it read.
#include "tools/pack/inputs/depfile.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

TEST(Depfile, EscapesWhatMakeAndNinjaWouldReadOtherwise) {
  const std::string text =
      pack::depfile_text("/b/out dir/app.attached",
                         {"/s/plain.txt", "/s/with space.txt", "/s/hash#1", "/s/cost$5", "/s/folder/", "/s/plain.txt"});
  EXPECT_EQ(text,
            "/b/out\\ dir/app.attached: \\\n"
            "  /s/cost$$5 \\\n"
            "  /s/folder \\\n"
            "  /s/hash\\#1 \\\n"
            "  /s/plain.txt \\\n"
            "  /s/with\\ space.txt\n");
}

TEST(Depfile, ListsEveryFileAndEveryFolderReadAbsolutely) {
  TemporaryFolder folder;
  write_file(folder / "app.dll", build_pe_image());
  write_file(folder / "assets/a.txt", "a");
  write_file(folder / "assets/sub/b.txt", "b");
  fs::create_directories(folder / "assets/empty/deeper");  // a file added here later must rerun packing
  write_file(folder / "loose.txt", "loose");
  fs::create_directories(folder / "out");
  write_file(folder / "elsewhere/not-read.txt", "x");
  fs::create_directory_symlink(folder / "elsewhere", folder / "assets/link");  // not followed

  const PackRun run =
      run_pack({"--quiet", "--attached-data-only", "--depfile", "deps.d", "-o", "out/app.attached", "app.dll", "assets/", "loose.txt"}, false,
               folder.path());
  ASSERT_EQ(run.exit_code, 0) << run.errors;
  const std::string root = folder.path().string();
  EXPECT_EQ(read_file(folder / "deps.d"),
            root + "/out/app.attached: \\\n  " + root + "/app.dll \\\n  " + root + "/assets \\\n  " + root +
                "/assets/a.txt \\\n  " + root + "/assets/empty \\\n  " + root + "/assets/empty/deeper \\\n  " + root +
                "/assets/sub \\\n  " + root + "/assets/sub/b.txt \\\n  " + root + "/loose.txt\n");

  // A failed run leaves the old depfile as it was.
  const PackRun failed =
      run_pack({"--attached-data-only", "--depfile", "deps.d", "-o", "out/app.attached", "app.dll", "missing"}, false, folder.path());
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(read_file(folder / "deps.d").find("/loose.txt\n"), std::string::npos);
}

}  // namespace
}  // namespace osvari::testing

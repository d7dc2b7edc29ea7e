// Warnings about DLLs that packed DLLs import but that would be missing at run time.
#include "tools/pack/inputs/import_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"
#include "tools/pack/pe/pe_imports.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

std::optional<std::vector<std::string>> imports_of(const std::string& image) {
  return pack::imported_dll_names(pack::ImageBytes::in_memory(image));
}

TEST(ImportCheck, ReadsLoadTimeThenDelayLoadedImports) {
  EXPECT_EQ(imports_of(build_pe_image()), std::vector<std::string>{});
  EXPECT_EQ(imports_of(build_pe_image({.imports = {"KERNEL32.dll", "libstdc++-6.dll"}, .delay_imports = {"late.dll"}})),
            (std::vector<std::string>{"KERNEL32.dll", "libstdc++-6.dll", "late.dll"}));
  EXPECT_EQ(imports_of("not an image"), std::nullopt);
  // A name that points past the end of the file is damage, not an empty list.
  std::string damaged = build_pe_image({.imports = {"a.dll"}});
  put_u32(damaged, damaged.size() - 0x200 + 12, 0x7FFF0000);
  EXPECT_EQ(imports_of(damaged), std::nullopt);
}

TEST(ImportCheck, KnowsWhatEveryWindowsInstallationHas) {
  for (const char* name : {"KERNEL32.dll", "msvcrt.dll", "ucrtbase.dll", "User32.DLL", "d3d11.dll", "dxgi.dll",
                           "api-ms-win-crt-runtime-l1-1-0.dll", "ext-ms-win-gdi-draw-l1-1-0.dll", "ws2_32.dll",
                           "winspool.drv", "bcrypt.dll"}) {
    EXPECT_TRUE(pack::is_windows_dll(name)) << name;
  }
  for (const char* name : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "vcruntime140.dll",
                           "python311.dll", "kernel33.dll", "api-ms.dll"}) {
    EXPECT_FALSE(pack::is_windows_dll(name)) << name;
  }
}

TEST(ImportCheck, WarnsAboutEachImportNeitherPackedWhereTheLoaderLooksNorPartOfWindows) {
  using Files = std::vector<std::pair<std::string, std::string>>;  // relative path below "data", contents
  const auto dll = [](std::vector<std::string> imports, std::vector<std::string> delayed = {}) {
    return build_pe_image({.imports = std::move(imports), .delay_imports = std::move(delayed)});
  };
  const std::string warning_tail =
      ", which is neither packed beside it nor part of Windows (loading would fail: "
      "module not found)\n";
  const struct {
    const char* description;
    std::vector<std::string> main_imports;
    Files data;
    std::vector<std::string> warnings;  // "importer imports dll"
  } cases[] = {
      {"system DLLs only", {"KERNEL32.dll", "msvcrt.dll", "api-ms-win-core-synch-l1-2-0.dll"}, {}, {}},
      {"not packed", {"KERNEL32.dll", "libstdc++-6.dll"}, {}, {"app.dll imports libstdc++-6.dll"}},
      {"packed beside it, in another letter case", {"libstdc++-6.dll"}, {{"LIBSTDC++-6.DLL", dll({})}}, {}},
      {"packed, but in a folder the loader does not search",
       {"helper.dll"},
       {{"lib/helper.dll", dll({})}},
       {"app.dll imports helper.dll"}},
      {"a packed DLL's own missing import",
       {"helper.dll"},
       {{"helper.dll", dll({"zlib1.dll", "user32.dll"})}},
       {"helper.dll imports zlib1.dll"}},
      {"a plugin finds its import beside it or beside the main library",
       {},
       {{"plugins/p.dll", dll({"beside.dll", "root.dll", "gone.dll"})},
        {"plugins/beside.dll", dll({})},
        {"root.dll", dll({})}},
       {"plugins\\p.dll imports gone.dll"}},
      {"delay-loaded", {}, {{"late.dll", dll({}, {"missing-late.dll"})}}, {"late.dll imports missing-late.dll"}},
      {"named .dll but not an image", {}, {{"text.dll", "just text"}}, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    TemporaryFolder folder;
    write_file(folder / "app.dll", dll(test.main_imports));
    fs::create_directories(folder / "data");
    for (const auto& [path, contents] : test.data) write_file(folder / "data" / path, contents);
    const PackRun run = run_pack(
        {"--quiet", "--attached-data-only", "-o", (folder / "out.bin").string(), (folder / "app.dll").string(), (folder / "data").string()});
    EXPECT_EQ(run.exit_code, 0) << "a warning must not fail the pack";
    EXPECT_TRUE(fs::exists(folder / "out.bin"));
    std::string expected;
    for (const std::string& warning : test.warnings) expected += "osvari-pack: warning: " + warning + warning_tail;
    EXPECT_EQ(run.errors, expected);
  }
}

}  // namespace
}  // namespace osvari::testing

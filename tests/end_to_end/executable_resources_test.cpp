// What the built executables carry: GUI subsystem, the manifest and the version information
// of the packaged application.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/executable_resources.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

struct ExecutableCase {
  const wchar_t* file;
  const wchar_t* company;
  const wchar_t* product;
  const wchar_t* version;
};

class BuiltExecutable : public ::testing::TestWithParam<ExecutableCase> {
 protected:
  std::wstring path() const { return build_output_directory() + L"\\" + GetParam().file; }
};

TEST_P(BuiltExecutable, IsAGuiProgramForX64) {
  const ImageKind kind = image_kind_of(path());
  EXPECT_EQ(kind.machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(kind.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_P(BuiltExecutable, CarriesTheManifest) {
  const std::string manifest = manifest_of(path());
  EXPECT_NE(manifest.find(R"(requestedExecutionLevel level="asInvoker")"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true)"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos)
      << manifest;
}

TEST_P(BuiltExecutable, CarriesTheApplicationsVersionInformation) {
  EXPECT_EQ(version_string(path(), L"CompanyName"), GetParam().company);
  EXPECT_EQ(version_string(path(), L"ProductName"), GetParam().product);
  EXPECT_EQ(version_string(path(), L"ProductVersion"), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Executables, BuiltExecutable,
    ::testing::Values(ExecutableCase{L"osvari-launcher.exe", L"Osvari", L"Osvari Onefile", L"0.1.0"},
                      ExecutableCase{L"osvari-demo.exe", L"Osvari Examples", L"Osvari Demo", L"1.0.0"}),
    [](const auto& info) { return info.index == 0 ? std::string("plain_launcher") : std::string("demo"); });

}  // namespace
}  // namespace osvari::testing

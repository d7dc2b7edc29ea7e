// What the built executables carry: GUI subsystem, the manifest and the version information
// of the packaged application.
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

std::string manifest_of(const std::wstring& executable) {
  HMODULE image = LoadLibraryExW(executable.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return "(cannot load " + std::to_string(GetLastError()) + ")";
  std::string text;
  if (HRSRC resource = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {  // RT_MANIFEST
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, resource)));
    text.assign(bytes, SizeofResource(image, resource));
  }
  FreeLibrary(image);
  return text;
}

std::wstring version_string(const std::wstring& executable, const std::wstring& field) {
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(executable.c_str(), &ignored));
  if (block.empty() || !GetFileVersionInfoW(executable.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
    return L"(no version information)";
  }
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + field;
  if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return L"(no " + field + L")";
  return std::wstring(value);
}

WORD subsystem_of(const std::wstring& executable) {
  const std::string bytes = read_file(executable);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  return nt->OptionalHeader.Subsystem;
}

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

TEST_P(BuiltExecutable, IsAGuiProgramForX64) { EXPECT_EQ(subsystem_of(path()), IMAGE_SUBSYSTEM_WINDOWS_GUI); }

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

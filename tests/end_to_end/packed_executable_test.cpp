// Executables finished by osvari-pack --launcher, read through the system's own resource and
// version calls and started: the subsystem, icon, version information and manifest options.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/win32.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

const std::string utf8_manifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>\n"
    "    <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>\n"
    "  </windowsSettings></application>\n"
    "</assembly>\n";

void append16(std::string& out, unsigned value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}
void append32(std::string& out, unsigned value) {
  append16(out, value & 0xFFFF);
  append16(out, value >> 16);
}

// One 16 x 16 image of 32 bits per pixel: its bitmap header, the pixels and the mask.
std::string icon_image() {
  std::string image;
  append32(image, 40);
  append32(image, 16);
  append32(image, 32);  // the colour rows and the mask rows
  append16(image, 1);
  append16(image, 32);
  image.resize(40, '\0');
  for (int pixel = 0; pixel < 16 * 16; ++pixel) append32(image, 0xFF2080C0);
  image.append(16 * 4, '\0');
  return image;
}

std::string icon_file() {
  const std::string image = icon_image();
  std::string file;
  append16(file, 0);
  append16(file, 1);
  append16(file, 1);
  file += std::string("\x10\x10\0\0", 4);
  append16(file, 1);
  append16(file, 32);
  append32(file, static_cast<unsigned>(image.size()));
  append32(file, 22);
  return file + image;
}

class Module {
 public:
  explicit Module(const std::wstring& path)
      : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Module() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  std::optional<std::string> resource(LPCWSTR type, int id) const {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return std::nullopt;
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module_, found)));
    return std::string(bytes, SizeofResource(module_, found));
  }

 private:
  HMODULE module_;
};

std::wstring version_string(const std::wstring& executable, const std::wstring& field) {
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(executable.c_str(), &ignored));
  if (block.empty() || !GetFileVersionInfoW(executable.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
    return L"(no version information)";
  }
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + field;
  if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return L"(none)";
  return std::wstring(value);
}

std::pair<DWORD, DWORD> file_version_numbers(const std::wstring& executable) {
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(executable.c_str(), &ignored));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (block.empty() || !GetFileVersionInfoW(executable.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
    return {0xFFFFFFFF, 0xFFFFFFFF};
  }
  return {fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

WORD subsystem_of(const std::wstring& executable) {
  const std::string bytes = read_file(executable);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  return reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew)->OptionalHeader.Subsystem;
}

struct OptionCase {
  const char* name;
  std::vector<std::wstring> options;  // "@" starts a file in the test folder
  WORD subsystem;
  std::function<void(const std::wstring& executable)> check;
};

class PackedExecutable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(PackedExecutable, CarriesTheOptionAndRuns) {
  TemporaryDirectory folder;
  write_file(folder.path() / L"app.ico", icon_file());
  write_file(folder.path() / L"utf8.manifest", utf8_manifest);
  const std::wstring executable = folder / L"probe.exe";
  std::vector<std::wstring> arguments = {L"--level", L"1", L"--launcher", L"\"" + built_launcher_path() + L"\""};
  for (const std::wstring& option : GetParam().options) {
    arguments.push_back(option.starts_with(L"@") ? L"\"" + (folder / option.substr(1)) + L"\"" : option);
  }
  arguments.insert(arguments.end(),
                   {L"--output", L"\"" + executable + L"\"", L"\"" + build_output_directory() + L"\\hosted_app.dll\""});
  const ProcessResult pack = run_program(build_output_directory() + L"\\osvari-pack.exe", arguments);
  ASSERT_EQ(pack.exit_code, 0u) << pack.standard_error;

  EXPECT_EQ(subsystem_of(executable), GetParam().subsystem);
  GetParam().check(executable);

  TemporaryDirectory temp;
  const ProcessResult run =
      run_program(executable, {L"--print-args", L"--exit", L"7"},
                  {.environment = {{L"TEMP", temp.path().wstring()}, {L"TMP", temp.path().wstring()}}});
  EXPECT_EQ(run.exit_code, 7u) << run.standard_output << run.standard_error;
  EXPECT_NE(run.standard_output.find("argc=4"), std::string::npos) << run.standard_output;
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Options, PackedExecutable,
    ::testing::Values(
        OptionCase{"none",
                   {},
                   IMAGE_SUBSYSTEM_WINDOWS_GUI,
                   [](const std::wstring& executable) {
                     EXPECT_EQ(version_string(executable, L"ProductName"), L"probe");
                     EXPECT_EQ(version_string(executable, L"OriginalFilename"), L"probe.exe");
                     EXPECT_EQ(version_string(executable, L"CompanyName"), L"(none)");
                     // The launcher's own manifest stays.
                     const auto manifest = Module(executable).resource(MAKEINTRESOURCEW(24), 1);
                     ASSERT_TRUE(manifest.has_value());
                     EXPECT_NE(manifest->find("longPathAware"), std::string::npos);
                   }},
        OptionCase{"console", {L"--console"}, IMAGE_SUBSYSTEM_WINDOWS_CUI, [](const std::wstring&) {}},
        OptionCase{"version",
                   {L"--company", L"\"Example Ltd\"", L"--product", L"\"My App\"", L"--version", L"2.1.0.9"},
                   IMAGE_SUBSYSTEM_WINDOWS_GUI,
                   [](const std::wstring& executable) {
                     EXPECT_EQ(version_string(executable, L"CompanyName"), L"Example Ltd");
                     EXPECT_EQ(version_string(executable, L"ProductName"), L"My App");
                     EXPECT_EQ(version_string(executable, L"FileDescription"), L"My App");
                     EXPECT_EQ(version_string(executable, L"FileVersion"), L"2.1.0.9");
                     EXPECT_EQ(version_string(executable, L"ProductVersion"), L"2.1.0.9");
                     EXPECT_EQ(file_version_numbers(executable), std::make_pair(DWORD{0x00020001}, DWORD{0x00000009}));
                   }},
        OptionCase{"icon",
                   {L"--icon", L"@app.ico"},
                   IMAGE_SUBSYSTEM_WINDOWS_GUI,
                   [](const std::wstring& executable) {
                     const Module module(executable);
                     const auto group = module.resource(MAKEINTRESOURCEW(14), 1);  // RT_GROUP_ICON
                     ASSERT_TRUE(group.has_value());
                     const int id = LookupIconIdFromDirectoryEx(
                         reinterpret_cast<PBYTE>(const_cast<char*>(group->data())), TRUE, 16, 16, LR_DEFAULTCOLOR);
                     EXPECT_EQ(id, 1);
                     const auto image = module.resource(MAKEINTRESOURCEW(3), id);  // RT_ICON
                     ASSERT_TRUE(image.has_value());
                     EXPECT_EQ(*image, icon_image());
                     HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char*>(image->data())),
                                                           static_cast<DWORD>(image->size()), TRUE, 0x00030000, 16, 16,
                                                           LR_DEFAULTCOLOR);
                     EXPECT_NE(icon, nullptr);
                     if (icon != nullptr) DestroyIcon(icon);
                   }},
        OptionCase{"manifest",
                   {L"--manifest", L"@utf8.manifest"},
                   IMAGE_SUBSYSTEM_WINDOWS_GUI,
                   [](const std::wstring& executable) {
                     EXPECT_EQ(Module(executable).resource(MAKEINTRESOURCEW(24), 1), utf8_manifest);
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace osvari::testing

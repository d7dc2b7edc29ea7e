// Executables finished by osvari-pack --launcher, read through the system's own resource and
// version calls and started: the subsystem, icon, version information and manifest options.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "base/little_endian.h"
#include "platform/win32.h"
#include "tests/support/executable_resources.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/manifest_text.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

void append16(std::string& out, unsigned value) { append_little_endian(out, value, 2); }
void append32(std::string& out, unsigned value) { append_little_endian(out, value, 4); }

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

struct OptionCase {
  const char* name;
  std::vector<std::wstring> options;  // "@" starts a file in the test folder
  std::uint16_t subsystem;
  std::function<void(const std::wstring& executable)> check;
};

class PackedExecutable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(PackedExecutable, CarriesTheOptionAndRuns) {
  TemporaryDirectory folder;
  write_file(folder.path() / L"app.ico", icon_file());
  write_file(folder.path() / L"utf8.manifest", std::string(utf8_code_page_manifest));
  const std::wstring executable = folder / L"probe.exe";
  std::vector<std::wstring> arguments = {L"--level", L"1", L"--launcher", L"\"" + built_launcher_path() + L"\""};
  for (const std::wstring& option : GetParam().options) {
    arguments.push_back(option.starts_with(L"@") ? L"\"" + (folder / option.substr(1)) + L"\"" : option);
  }
  arguments.insert(arguments.end(),
                   {L"--output", L"\"" + executable + L"\"", L"\"" + build_output_directory() + L"\\hosted_app.dll\""});
  const ProcessResult pack = run_program(build_output_directory() + L"\\osvari-pack.exe", arguments);
  ASSERT_EQ(pack.exit_code, 0u) << pack.standard_error;

  EXPECT_EQ(image_kind_of(executable).subsystem, GetParam().subsystem);
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
                     const auto manifest = ResourceImage(executable).resource(resource_type_manifest, 1);
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
                     EXPECT_EQ(file_version_numbers(executable), std::make_pair(0x00020001u, 0x00000009u));
                   }},
        OptionCase{"icon",
                   {L"--icon", L"@app.ico"},
                   IMAGE_SUBSYSTEM_WINDOWS_GUI,
                   [](const std::wstring& executable) {
                     const ResourceImage module(executable);
                     const auto group = module.resource(resource_type_group_icon, 1);
                     ASSERT_TRUE(group.has_value());
                     const int id = LookupIconIdFromDirectoryEx(
                         reinterpret_cast<PBYTE>(const_cast<char*>(group->data())), TRUE, 16, 16, LR_DEFAULTCOLOR);
                     EXPECT_EQ(id, 1);
                     const auto image = module.resource(resource_type_icon, id);
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
                     EXPECT_EQ(ResourceImage(executable).resource(resource_type_manifest, 1), utf8_code_page_manifest);
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace osvari::testing

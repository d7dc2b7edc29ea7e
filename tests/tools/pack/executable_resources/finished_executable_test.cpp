// osvari-pack --launcher: finished executables and their options, read back from the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/support/manifest_text.h"
#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/icon_builder.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"
#include "tests/tools/pack/support/version_reader.h"
#include "payload/window_options.h"
#include "tools/pack/command_line/pack_feedback.h"
#include "tools/pack/pe/pe_editor.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;
using pack::resource_id;

constexpr std::string_view launcher_manifest = "<assembly launcher/>";
// A launcher as the build makes one, with an icon, a resource of its own and version information.
std::string test_launcher() {
  pack::ResourceTable table;
  const auto add = [&](std::uint32_t type, pack::ResourceKey name, std::string data) {
    table.add({resource_id(type), std::move(name), resource_id(pack::language_english_us), std::move(data), 0});
  };
  add(pack::resource_type_manifest, resource_id(1), std::string(launcher_manifest));
  add(pack::resource_type_version, resource_id(1), "launcher version");
  add(pack::resource_type_icon, resource_id(1), "old icon 1");
  add(pack::resource_type_icon, resource_id(2), "old icon 2");
  add(pack::resource_type_group_icon, pack::ResourceKey{0, u"MAINICON"}, "old group");
  add(pack::resource_type_rcdata, resource_id(5), "keep me");
  return build_executable_image({.resources = resources_of(table), .relocations_after_resources = true});
}

std::string resource(const pack::PeEditor& executable, std::uint32_t type, std::uint32_t id) {
  const auto found = executable.resources().find(resource_id(type), resource_id(id));
  if (found.size() != 1) return std::to_string(found.size()).append(" copies");
  return found.front()->data;
}

class FinishedExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(folder / "app.dll", build_pe_image());
    write_file(folder / "data/notes.txt", "notes");
    write_file(folder / "launcher.exe", test_launcher());
    write_file(folder / "app.ico", build_icon_file({{16, "small"}, {48, "large image"}}));
    write_file(folder / "utf8.manifest", utf8_code_page_manifest);
    fs::create_directories(folder / "out");
  }

  std::string path(const char* relative) const { return (folder / relative).string(); }
  std::string output() const { return path("out/My App.exe"); }

  // Packs with `options` and returns the executable read back; checks the common facts.
  pack::PeEditor pack_with(const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"--quiet", "--level", "3", "--launcher", path("launcher.exe")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"-o", output(), path("app.dll"), path("data")});
    const PackRun run = run_pack(arguments);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    pack::PeEditor executable(read_file(output()));
    const std::vector<DecodedEntry> entries =
        decode_attached_data(resource(executable, pack::resource_type_rcdata, 27));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(resource(executable, pack::resource_type_rcdata, 5), "keep me");
    // Runnable by whoever may read it.
    const auto permissions = static_cast<unsigned>(fs::status(output()).permissions());
    EXPECT_NE(permissions & 0100u, 0u);
    EXPECT_EQ(permissions & 0111u, (permissions & 0444u) >> 2);
    return executable;
  }

  TemporaryFolder folder;
};

using Strings = std::map<std::u16string, std::u16string>;

struct OptionCase {
  const char* description;
  std::vector<std::string> options;
  std::uint16_t subsystem;
  std::function<void(const pack::PeEditor&)> check;
};

TEST_F(FinishedExecutable, AppliesEachOption) {
  const auto default_version = [](const pack::PeEditor& executable) {
    const VersionBlock version = read_version_block(resource(executable, pack::resource_type_version, 1));
    EXPECT_EQ(version.strings, (Strings{{u"FileDescription", u"My App"},
                                        {u"InternalName", u"My App"},
                                        {u"OriginalFilename", u"My App.exe"},
                                        {u"ProductName", u"My App"}}));
  };
  const auto launcher_icon_and_manifest = [](const pack::PeEditor& executable) {
    EXPECT_EQ(resource(executable, pack::resource_type_manifest, 1), launcher_manifest);
    EXPECT_EQ(resource(executable, pack::resource_type_icon, 2), "old icon 2");
  };
  const OptionCase cases[] = {
      {"no options: a GUI program named after the output",
       {},
       2,
       [&](const pack::PeEditor& executable) {
         default_version(executable);
         launcher_icon_and_manifest(executable);
       }},
      {"console", {"--console"}, 3, [&](const pack::PeEditor& e) { launcher_icon_and_manifest(e); }},
      {"version information",
       {"--company", "Example Ltd", "--product", "Caf\xC3\xA9 App", "--version", "2.1.0.3"},
       2,
       [](const pack::PeEditor& executable) {
         const VersionBlock version = read_version_block(resource(executable, pack::resource_type_version, 1));
         EXPECT_EQ(version.strings, (Strings{{u"CompanyName", u"Example Ltd"},
                                             {u"FileDescription", u"Caf\u00E9 App"},
                                             {u"FileVersion", u"2.1.0.3"},
                                             {u"InternalName", u"My App"},
                                             {u"OriginalFilename", u"My App.exe"},
                                             {u"ProductName", u"Caf\u00E9 App"},
                                             {u"ProductVersion", u"2.1.0.3"}}));
         EXPECT_EQ(version.file_version, (std::array<std::uint16_t, 4>{2, 1, 0, 3}));
       }},
      {"icon replaces every icon",
       {"--icon", "@app.ico"},
       2,
       [](const pack::PeEditor& executable) {
         std::size_t groups = 0;
         std::size_t icons = 0;
         for (const pack::Resource& r : executable.resources().resources()) {
           groups += r.type == resource_id(pack::resource_type_group_icon);
           icons += r.type == resource_id(pack::resource_type_icon);
         }
         EXPECT_EQ(groups, 1u);
         EXPECT_EQ(icons, 2u);
         EXPECT_EQ(resource(executable, pack::resource_type_icon, 1), "small");
         EXPECT_EQ(resource(executable, pack::resource_type_icon, 2), "large image");
         EXPECT_EQ(resource(executable, pack::resource_type_group_icon, 1).size(), 6u + 2 * 14);
       }},
      {"manifest",
       {"--manifest", "@utf8.manifest"},
       2,
       [](const pack::PeEditor& executable) {
         EXPECT_EQ(resource(executable, pack::resource_type_manifest, 1), utf8_code_page_manifest);
       }},
      {"all at once",
       {"--console", "--icon", "@app.ico", "--manifest", "@utf8.manifest", "--version", "1.0", "--company", "C"},
       3,
       [](const pack::PeEditor& executable) {
         EXPECT_EQ(resource(executable, pack::resource_type_manifest, 1), utf8_code_page_manifest);
         EXPECT_EQ(resource(executable, pack::resource_type_icon, 1), "small");
         const VersionBlock version = read_version_block(resource(executable, pack::resource_type_version, 1));
         EXPECT_EQ(version.strings.at(u"CompanyName"), u"C");
         EXPECT_EQ(version.strings.at(u"ProductVersion"), u"1.0");
       }},
  };
  for (const OptionCase& test : cases) {
    SCOPED_TRACE(test.description);
    std::vector<std::string> options = test.options;
    for (std::string& option : options) {
      if (option.starts_with("@")) option = path(option.c_str() + 1);
    }
    const pack::PeEditor executable = pack_with(options);
    EXPECT_EQ(executable.subsystem(), test.subsystem);
    test.check(executable);
  }
}

TEST_F(FinishedExecutable, GivesTheSameBytesForTheSameInputs) {
  const std::vector<std::string> options = {"--icon", path("app.ico"), "--version", "3.0"};
  pack_with(options);
  const std::string first = read_file(output());
  pack_with(options);
  EXPECT_TRUE(read_file(output()) == first);
}

TEST_F(FinishedExecutable, SummaryGivesTheAttachedDataAndTheExecutableApart) {
  const PackRun run = run_pack({"--level", "3", "--launcher", path("launcher.exe"), "-o", output(), path("app.dll")});
  ASSERT_EQ(run.exit_code, 0) << run.errors;
  const pack::PeEditor executable(read_file(output()));
  const std::string attached_data = resource(executable, pack::resource_type_rcdata, 27);
  const std::string input = pack::human_size(build_pe_image().size());
  const std::string expected = "osvari-pack: 1 entry, " + input + " in, " + pack::human_size(attached_data.size()) +
                               " compressed (";
  EXPECT_TRUE(run.errors.starts_with(expected)) << run.errors << "expected: " << expected;
  EXPECT_NE(run.errors.find("%), executable " + pack::human_size(fs::file_size(output())) + ", "), std::string::npos)
      << run.errors;
}

TEST_F(FinishedExecutable, DropsTheLaunchersSignatureAndSaysSo) {
  write_file(folder / "signed.exe", build_executable_image({.certificate = std::string(512, 'C')}));
  // Quiet drops the summary line, not the note.
  const PackRun run = run_pack({"--quiet", "--launcher", path("signed.exe"), "-o", output(), path("app.dll")});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.errors, "osvari-pack: the launcher was signed; a changed file breaks a signature, so " + output() +
                            " carries none: sign it again\n");
  const std::string written = read_file(output());
  EXPECT_EQ(written.find(std::string(512, 'C')), std::string::npos);
  EXPECT_EQ(image_facts(written).certificate_size, 0u);
}

TEST_F(FinishedExecutable, RefusesBadLaunchersAndOptionFilesWithOneLine) {
  const struct {
    const char* description;
    std::function<void(const fs::path&)> prepare;
    std::vector<std::string> options;
    int exit_code;
    std::string message;
  } cases[] = {
      {"missing launcher", [](const fs::path& f) { fs::remove(f / "launcher.exe"); }, {}, 1, "no such launcher file: "},
      {"text as the launcher",
       [](const fs::path& f) { write_file(f / "launcher.exe", "#!/bin/sh\n"); },
       {},
       1,
       "launcher.exe is not a Windows executable (no MZ header)"},
      {"a 32-bit launcher",
       [](const fs::path& f) { write_file(f / "launcher.exe", build_executable_image({.magic = 0x10B})); },
       {},
       1,
       "is a 32-bit (PE32) image, not PE32+"},
      {"a truncated launcher",
       [](const fs::path& f) { write_file(f / "launcher.exe", test_launcher().substr(0, 0x900)); },
       {},
       1,
       "is cut short"},
      {"a DLL as the launcher",
       [](const fs::path& f) { write_file(f / "launcher.exe", build_executable_image({.characteristics = 0x2022})); },
       {},
       1,
       "is a DLL, not an executable"},
      {"missing icon", [](const fs::path&) {}, {"--icon", "@none.ico"}, 1, "no such icon file: "},
      {"not an icon", [](const fs::path&) {}, {"--icon", "@utf8.manifest"}, 1, "is not an icon file (.ico)"},
      {"missing manifest", [](const fs::path&) {}, {"--manifest", "@none.xml"}, 1, "no such manifest file: "},
      {"not a manifest", [](const fs::path&) {}, {"--manifest", "@app.ico"}, 1, "is not an application manifest"},
      {"a version without numbers",
       [](const fs::path&) {},
       {"--version", "beta"},
       2,
       "--version needs one to four numbers from 0 to 65535"},
      {"a version number too large",
       [](const fs::path&) {},
       {"--version", "1.70000"},
       2,
       "--version needs one to four numbers from 0 to 65535"},
      {"an empty company", [](const fs::path&) {}, {"--company="}, 2, "--company needs a value"},
      {"a company name longer than the version resource holds",
       [](const fs::path&) {},
       {"--company", std::string(40000, 'c')},
       1,
       "the version information is too long"},
      {"a product name longer than the version resource holds",
       [](const fs::path&) {},
       {"--product", std::string(20000, 'p')},
       1,
       "the version information is too long"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    TemporaryFolder case_folder;
    write_file(case_folder / "app.dll", build_pe_image());
    write_file(case_folder / "launcher.exe", test_launcher());
    write_file(case_folder / "app.ico", build_icon_file({{16, "small"}}));
    write_file(case_folder / "utf8.manifest", utf8_code_page_manifest);
    fs::create_directories(case_folder / "out");
    test.prepare(case_folder.path());
    std::vector<std::string> arguments = {"--launcher", (case_folder / "launcher.exe").string()};
    for (const std::string& option : test.options) {
      arguments.push_back(option.starts_with("@") ? (case_folder / option.substr(1)).string() : option);
    }
    arguments.insert(arguments.end(),
                     {"-o", (case_folder / "out/app.exe").string(), (case_folder / "app.dll").string()});
    const PackRun run = run_pack(arguments);
    EXPECT_EQ(run.exit_code, test.exit_code) << run.errors;
    EXPECT_TRUE(run.errors.starts_with("osvari-pack: ")) << run.errors;
    EXPECT_NE(run.errors.find(test.message), std::string::npos) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_TRUE(fs::is_empty(case_folder / "out")) << "output left behind";
  }
}

TEST_F(FinishedExecutable, CarriesWhatItShowsAPersonAndTheSplashImage) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of the image";
  write_file(folder / "splash.png", png);
  const struct {
    const char* description;
    std::vector<std::string> options;
    bool error_dialog;
    bool progress_window;
    std::string splash;  // the resource's bytes, or how many copies there are when not one
  } cases[] = {
      {"defaults: both windows, no splash", {}, true, true, "0 copies"},
      {"no error dialog", {"--no-error-dialog"}, false, true, "0 copies"},
      {"no progress window", {"--no-progress-window"}, true, false, "0 copies"},
      {"a splash image, as given", {"--splash", path("splash.png")}, true, true, png},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const pack::PeEditor executable = pack_with(test.options);
    const std::string record = resource(executable, pack::resource_type_rcdata, window_options_resource_id);
    const WindowOptions read = read_window_options(reinterpret_cast<const unsigned char*>(record.data()), record.size());
    // The progress bar counts towards every entry's contents: app.dll and notes.txt.
    const std::uint64_t unpacked = fs::file_size(folder / "app.dll") + fs::file_size(folder / "data/notes.txt");
    EXPECT_EQ(read, (WindowOptions{test.error_dialog, test.progress_window, unpacked}));
    EXPECT_EQ(record, window_options_record(read));
    EXPECT_EQ(resource(executable, pack::resource_type_rcdata, splash_image_resource_id), test.splash);
  }
}

TEST_F(FinishedExecutable, RefusesASplashThatIsNoImage) {
  write_file(folder / "splash.txt", "not an image");
  const PackRun run = run_pack({"--launcher", path("launcher.exe"), "--splash", path("splash.txt"), "-o", output(),
                                path("app.dll")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.errors.find("is not a PNG, JPEG, GIF or BMP file"), std::string::npos) << run.errors;
  EXPECT_TRUE(fs::is_empty(folder / "out"));
}

TEST_F(FinishedExecutable, RefusesExecutableOptionsWithTheAttachedDataAlone) {
  for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
           {"--console"}, {"--icon", path("app.ico")}, {"--version", "1.0"}, {"--manifest", path("utf8.manifest")}}) {
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"--attached-data-only", "-o", output(), path("app.dll")});
    const PackRun run = run_pack(arguments);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.errors.find("need an executable, not --attached-data-only"), std::string::npos) << run.errors;
    EXPECT_TRUE(fs::is_empty(folder / "out"));
  }
}

}  // namespace
}  // namespace osvari::testing

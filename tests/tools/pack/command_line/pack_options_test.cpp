// osvari-pack's command line read into options, and the command lines it refuses.
#include "tools/pack/command_line/pack_options.h"

#include <gtest/gtest.h>

#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

using Arguments = std::vector<std::string>;

TEST(PackOptions, ReadsOptionsAndOperands) {
  const PackOptions plain = parse_pack_arguments({"-o", "out.bin", "app.dll"}, 8);
  EXPECT_FALSE(plain.help);
  EXPECT_EQ(plain.output, "out.bin");
  EXPECT_EQ(plain.main_library, "app.dll");
  EXPECT_TRUE(plain.inputs.empty());
  EXPECT_EQ(plain.level, 19);
  EXPECT_EQ(plain.threads, 8);
  EXPECT_FALSE(plain.launcher.has_value());

  const PackOptions full = parse_pack_arguments(
      {"app.dll", "--level", "3", "data", "--threads=2", "--output=o.bin", "--launcher", "l.exe", "--", "-x", "y"}, 8);
  EXPECT_EQ(full.level, 3);
  EXPECT_EQ(full.threads, 2);
  EXPECT_EQ(full.output, "o.bin");
  EXPECT_EQ(full.launcher, "l.exe");
  EXPECT_EQ(full.main_library, "app.dll");
  EXPECT_EQ(full.inputs, (Arguments{"data", "-x", "y"}));

  // Absolute paths, also on Windows, where a slash could start an option.
  const PackOptions absolute = parse_pack_arguments({"-o", "/tmp/o.exe", "/tmp/app.dll", "/tmp/data"}, 1);
  EXPECT_EQ(absolute.main_library, "/tmp/app.dll");
  EXPECT_EQ(absolute.inputs, (Arguments{"/tmp/data"}));
  EXPECT_EQ(parse_pack_arguments({"--list", "/tmp/app.exe"}, 1).inspected_file, "/tmp/app.exe");

  EXPECT_EQ(parse_pack_arguments({"-o", "o", "a.dll"}, 0).threads, 1);  // unknown hardware
  EXPECT_EQ(parse_pack_arguments({"-o", "o", "a.dll", "--level", "22"}, 1).level, 22);
  EXPECT_TRUE(parse_pack_arguments({"--help", "--unknown"}, 1).help);
  EXPECT_TRUE(parse_pack_arguments({"-h"}, 1).help);
  EXPECT_FALSE(plain.cache);
  EXPECT_TRUE(parse_pack_arguments({"-o", "o", "--cache", "a.dll"}, 1).cache);
  EXPECT_EQ(parse_pack_arguments({"--cache", "-o", "o", "a.dll"}, 1).main_library, "a.dll");
  EXPECT_FALSE(plain.attached_data_only);
  EXPECT_TRUE(parse_pack_arguments({"-o", "o", "--attached-data-only", "a.dll"}, 1).attached_data_only);
}

TEST(PackOptions, VersionAloneAsksForTheToolsOwn) {
  const PackOptions alone = parse_pack_arguments({"--version"}, 1);
  EXPECT_TRUE(alone.tool_version);
  EXPECT_EQ(alone.version, "");
  EXPECT_TRUE(parse_pack_arguments({"-V"}, 1).tool_version);
  const PackOptions packing = parse_pack_arguments({"--version", "2.1", "-o", "o.exe", "a.dll"}, 1);
  EXPECT_FALSE(packing.tool_version);
  EXPECT_EQ(packing.version, "2.1");
}

TEST(PackOptions, VersionTakesOneToFourNumbersSeparatedByDots) {
  const struct {
    std::string text;
    bool accepted;
  } cases[] = {
      {"3", true},         {"2.1", true},       {"2.1.0", true},     {"1.2.3.4", true},   {"65535.0.0.65535", true},
      {"1.2.3.4.5", false}, {"1..2", false},     {"1.", false},       {".1", false},       {"2.1.0-rc1", false},
      {"v2", false},        {"1.99999", false},  {"1.65536", false},  {"1 2", false},      {"1.2\n", false},
  };
  for (const auto& test : cases) {
    const Arguments arguments{"app.dll", "-o", "o", "--launcher", "l", "--version", test.text};
    if (test.accepted) {
      EXPECT_EQ(parse_pack_arguments(arguments, 1).version, test.text);
      continue;
    }
    try {
      parse_pack_arguments(arguments, 1);
      ADD_FAILURE() << "accepted --version " << test.text;
    } catch (const PackError& error) {
      EXPECT_EQ(error.what(), "--version needs one to four numbers from 0 to 65535 separated by dots, like 2.1.0, not \"" +
                                  test.text + "\"");
      EXPECT_EQ(error.exit_code, exit_usage) << test.text;
    }
  }
}

TEST(PackOptions, ReadsTheFinishedExecutablesOptions) {
  const PackOptions plain = parse_pack_arguments({"--launcher", "l.exe", "-o", "o.exe", "a.dll"}, 1);
  EXPECT_FALSE(plain.console);
  EXPECT_FALSE(plain.icon || plain.manifest);
  EXPECT_EQ(plain.company + plain.product + plain.version, "");

  const PackOptions full = parse_pack_arguments({"--launcher", "l.exe", "--console", "--icon", "i.ico", "--company=C & Co",
                                                 "--product", "Caf\xC3\xA9", "--version", "2.1.0.7", "--manifest=m.xml",
                                                 "-o", "o.exe", "a.dll", "--console"},
                                                1);
  EXPECT_TRUE(full.console);
  EXPECT_EQ(full.icon, "i.ico");
  EXPECT_EQ(full.manifest, "m.xml");
  EXPECT_EQ(full.company, "C & Co");
  EXPECT_EQ(full.product, "Caf\xC3\xA9");
  EXPECT_EQ(full.version, "2.1.0.7");
  EXPECT_EQ(full.main_library, "a.dll");
}

TEST(PackOptions, ReadsWhatAWindowedExecutableShows) {
  const PackOptions plain = parse_pack_arguments({"-o", "o.exe", "a.dll"}, 1);
  EXPECT_FALSE(plain.no_error_dialog || plain.no_progress_window || plain.splash);
  const PackOptions quiet = parse_pack_arguments({"--no-error-dialog", "--no-progress-window", "-o", "o.exe", "a.dll"}, 1);
  EXPECT_TRUE(quiet.no_error_dialog);
  EXPECT_TRUE(quiet.no_progress_window);
  const PackOptions splash = parse_pack_arguments({"--splash=s.png", "-o", "o.exe", "a.dll"}, 1);
  EXPECT_EQ(splash.splash, "s.png");
  EXPECT_FALSE(splash.no_progress_window);
}

TEST(PackOptions, ReadsInspectionQuietAndDepfileOptions) {
  const struct {
    Arguments arguments;
    PackMode mode;
    std::string file;
    std::string directory;
  } cases[] = {
      {{"--list", "app.exe"}, PackMode::list, "app.exe", ""},
      {{"app.attached", "--verify"}, PackMode::verify, "app.attached", ""},
      {{"--extract", "out", "app.exe"}, PackMode::extract, "app.exe", "out"},
      {{"--extract=out dir", "--", "-app.exe"}, PackMode::extract, "-app.exe", "out dir"},
  };
  for (const auto& test : cases) {
    const PackOptions options = parse_pack_arguments(test.arguments, 1);
    EXPECT_EQ(options.mode, test.mode) << test.file;
    EXPECT_EQ(options.inspected_file, test.file);
    EXPECT_EQ(options.extract_directory, test.directory);
  }
  const PackOptions packing = parse_pack_arguments({"-q", "--depfile", "a.d", "-o", "o", "app.dll"}, 1);
  EXPECT_EQ(packing.mode, PackMode::pack);
  EXPECT_TRUE(packing.quiet);
  EXPECT_EQ(packing.depfile, "a.d");
  EXPECT_TRUE(parse_pack_arguments({"--quiet", "--list", "x"}, 1).quiet);
  EXPECT_FALSE(parse_pack_arguments({"-o", "o", "app.dll"}, 1).quiet);
}

TEST(PackOptions, RefusesBadCommandLines) {
  const struct {
    Arguments arguments;
    std::string message;
  } cases[] = {
      {{}, "no program or main library given (see --help)"},
      {{"-o", "out"}, "no program or main library given (see --help)"},
      {{"app.dll"}, "no output file given: use --output FILE"},
      {{"--fast", "-o", "o", "app.dll"}, "unknown option --fast (see --help)"},
      {{"-x=1", "-o", "o", "app.dll"}, "unknown option -x=1 (see --help)"},
      {{"app.dll", "-o"}, "-o needs a value"},
      {{"app.dll", "--output"}, "--output needs a value"},
      {{"app.dll", "-o", "o", "--threads"}, "--threads needs a value"},
      {{"--fast=3", "-o", "o", "app.dll"}, "unknown option --fast (see --help)"},
      {{"app.dll", "--output="}, "--output needs a file name"},
      {{"app.dll", "-o", "a", "--output", "b"}, "the output file is given twice"},
      {{"app.dll", "-o", "o", "--level", "0"}, "--level needs a whole number from 1 to 22, not \"0\""},
      {{"app.dll", "-o", "o", "--level", "23"}, "--level needs a whole number from 1 to 22, not \"23\""},
      {{"app.dll", "-o", "o", "--level=5x"}, "--level needs a whole number from 1 to 22, not \"5x\""},
      {{"app.dll", "-o", "o", "--level", ""}, "--level needs a whole number from 1 to 22, not \"\""},
      {{"app.dll", "-o", "o", "--threads", "0"}, "--threads needs a whole number from 1 to 200, not \"0\""},
      {{"app.dll", "-o", "o", "--threads", "-2"}, "--threads needs a whole number from 1 to 200, not \"-2\""},
      {{"app.dll", "-o", "o", "--launcher", "a", "--launcher", "b"}, "the launcher is given twice"},
      {{"app.dll", "-o", "o", "--attached-data-only", "--console"},
       "--console, --windows, --icon, --manifest, --company, --product and --version need an executable, not "
       "--attached-data-only"},
      {{"app.exe", "-o", "o", "--console", "--windows"}, "--console and --windows exclude each other: give one"},
      {{"app.dll", "-o", "o", "--attached-data-only", "--launcher", "l"},
       "--attached-data-only writes no executable, so it takes no --launcher"},
      {{"--list", "a.exe", "--attached-data-only"},
       "--attached-data-only belongs to packing, not to --list, --verify or --extract"},
      {{"-o", "o", "app.dll", "--version"}, "--version needs a value"},
      {{"app.dll", "-o", "o", "--launcher", "l", "--icon"}, "--icon needs a value"},
      {{"app.dll", "-o", "o", "--launcher", "l", "--product="}, "--product needs a value"},
      {{"app.dll", "-o", "o", "--launcher", "l", "--company", "bad \xFF"}, "--company needs UTF-8 text"},
      {{"app.dll", "-o", "o", "--depfile", "a", "--depfile", "b"}, "the depfile is given twice"},
      {{"app.dll", "-o", "o", "--depfile="}, "--depfile needs a file name"},
      {{"--list"}, "--list, --verify and --extract need exactly one exe or attached-data file"},
      {{"--verify", "a.exe", "b.exe"}, "--list, --verify and --extract need exactly one exe or attached-data file"},
      {{"--extract", "dir"}, "--list, --verify and --extract need exactly one exe or attached-data file"},
      {{"--extract=", "a.exe"}, "--extract needs a directory"},
      {{"--list", "--verify", "a.exe"}, "--verify cannot be combined with another of --list, --verify, --extract"},
      {{"--list", "a.exe", "-o", "o"},
       "--output, --launcher, --depfile and the exe options belong to packing, not to --list, --verify or --extract"},
      {{"--verify", "a.exe", "--console"},
       "--output, --launcher, --depfile and the exe options belong to packing, not to --list, --verify or --extract"},
      {{"--list", "a.exe", "--no-error-dialog"},
       "--no-error-dialog, --no-progress-window and --splash belong to packing, not to --list, --verify or --extract"},
      {{"app.dll", "-o", "o", "--attached-data-only", "--no-progress-window"},
       "--no-error-dialog, --no-progress-window and --splash need an executable, not --attached-data-only"},
      {{"app.dll", "-o", "o", "--splash", "s.png", "--no-progress-window"},
       "--splash shows in the progress window, which --no-progress-window turns off: give one"},
      {{"app.dll", "-o", "o", "--splash", "a.png", "--splash", "b.png"}, "the splash image is given twice"},
      {{"app.dll", "-o", "o", "--splash="}, "--splash needs an image file"},
  };
  for (const auto& test : cases) {
    try {
      parse_pack_arguments(test.arguments, 4);
      ADD_FAILURE() << "accepted: " << test.message;
    } catch (const PackError& error) {
      EXPECT_EQ(error.what(), test.message);
      EXPECT_EQ(error.exit_code, exit_usage) << test.message;
    }
  }
}

TEST(PackOptions, HelpShowsTheFormsThenTheOptionsInTwoGroups) {
  const std::string help = usage_text();
  EXPECT_TRUE(help.starts_with("Usage: osvari-pack ")) << help;
  const std::size_t output = help.find("\n  -o,--output FILE ");
  const std::size_t group = help.find("\n\nExe options (not with --attached-data-only):\n  --console ");
  ASSERT_NE(output, std::string::npos) << help;
  ASSERT_NE(group, std::string::npos) << help;
  EXPECT_LT(output, group);
  EXPECT_GT(help.find("\n  --manifest FILE "), group);
  EXPECT_LT(help.find("\n  --cache "), group);
}

}  // namespace
}  // namespace osvari::pack

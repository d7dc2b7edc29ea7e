#include "tools/pack/command_line/pack_options.h"

#include <zstd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <memory>

#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/executable_resources/version_resource.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

// What CLI11 collects. Options that take a value collect every occurrence, so that one given
// twice can be named.
struct Collected {
  std::vector<std::string> output, level, threads, launcher, depfile, extract;
  std::vector<std::string> icon, manifest, company, product, version;
  std::vector<std::string> operands;
  std::vector<std::string> splash;
  bool no_error_dialog = false, no_progress_window = false;
  bool quiet = false, cache = false, attached_data_only = false, console = false, windows = false, list = false,
       verify = false;
};

class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: osvari-pack [--level N] [--threads N] [--cache] [--launcher LAUNCHER.exe] [EXE OPTIONS]\n"
           "                   [--depfile FILE] [--quiet] --output FILE.exe\n"
           "                   PROGRAM.exe|MAIN_LIBRARY.dll [FILE_OR_DIRECTORY...]\n"
           "       osvari-pack --attached-data-only [--level N] [--threads N] [--cache] [--depfile FILE]\n"
           "                   [--quiet] --output FILE PROGRAM.exe|MAIN_LIBRARY.dll [FILE_OR_DIRECTORY...]\n"
           "       osvari-pack --list FILE | --verify FILE | --extract DIRECTORY FILE\n"
           "       osvari-pack --version | -V\n"
           "\n"
           "Writes a onefile executable: a copy of the launcher carrying PROGRAM (an x86-64 Windows\n"
           "program, started as it is) or MAIN_LIBRARY (a DLL exporting run_code) first, then every\n"
           "FILE by its file name and every regular file below each DIRECTORY by its path relative to\n"
           "that directory, in sorted order. Which of the two the first file is, its PE header says.\n";
  }
  // The first group goes without a heading, as the options of the usage lines above.
  std::string make_group(std::string group, bool positional, std::vector<const CLI::Option*> options) const override {
    const std::string text = CLI::Formatter::make_group(group, positional, options);
    return group == "Options" ? text.substr(group.size() + 2) : text.substr(1);
  }
};

constexpr const char* exe_options_group = "Exe options (not with --attached-data-only)";

// The command line as CLI11 reads it, with the help text beside each option.
void define_options(CLI::App& app, Collected& collected) {
  app.formatter(std::make_shared<UsageFormatter>());
  app.get_formatter()->column_width(24);
  app.allow_extras();  // unknown options are named below, in this tool's words
  // On Windows CLI11 would read "/name" as an option: an absolute path such as /tmp/data must
  // stay a file to pack.
  app.allow_windows_style_options(false);
  const auto value = [&](const char* names, std::vector<std::string>& into, const char* text, const char* help,
                         const char* group = "Options") {
    return app.add_option(names, into, help)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->option_text(text)
        ->group(group);
  };
  const auto flag = [&](const char* names, bool& into, const char* help, const char* group = "Options") {
    return app.add_flag(names, into, help)->group(group);
  };
  value("-o,--output", collected.output, "FILE", "where to write the executable (or the attached data)");
  value("--level", collected.level, "N", "Zstandard compression level, 1 to 22 (default 19)");
  value("--threads", collected.threads, "N", "compression threads (default: the number of hardware threads)");
  value("--launcher", collected.launcher, "FILE",
        "the launcher to copy; by default osvari-launcher.exe found beside\n"
        "osvari-pack, in ../share/osvari-onefile/ or in its build folder");
  flag("--attached-data-only", collected.attached_data_only,
       "write only the attached data, for a launcher you build yourself\n"
       "with it as RCDATA resource 27");
  flag("--cache", collected.cache,
       "unpack once into a per-user cache folder and run from there on\n"
       "later starts (see README), instead of a fresh folder each run");
  value("--depfile", collected.depfile, "FILE", "also write a Makefile-style list of every file and folder read");
  flag("-q,--quiet", collected.quiet, "no progress and no summary line");
  flag("--list", collected.list, "list the entries of an exe or attached-data file with their sizes")
      ->option_text("FILE");
  flag("--verify", collected.verify, "decode and check everything in an exe or attached-data file")
      ->option_text("FILE");
  value("--extract", collected.extract, "DIR FILE", "write the entries of an exe or attached-data file below DIR");
  app.set_help_flag("-h,--help", "show this text");
  flag("--console", collected.console,
       "a console program (default: a packed program's own subsystem,\n"
       "else a GUI program; see README)",
       exe_options_group);
  flag("--windows", collected.windows, "a GUI program, whatever the packed program is", exe_options_group);
  value("--icon", collected.icon, "FILE.ico", "the executable's icon", exe_options_group);
  value("--company", collected.company, "TEXT", "version information: company name", exe_options_group);
  value("--product", collected.product, "TEXT", "version information: product name (default: the output's name)",
        exe_options_group);
  value("--version", collected.version, "TEXT",
        "version information: version, like 2.1.0; alone: the version of\n"
        "osvari-pack itself", exe_options_group);
  value("--manifest", collected.manifest, "FILE", "the application manifest, in place of the launcher's",
        exe_options_group);
  flag("--no-error-dialog", collected.no_error_dialog,
       "no message box for a failure when the streams lead nowhere\n"
       "(a windowed program started from Explorer; see README)",
       exe_options_group);
  flag("--no-progress-window", collected.no_progress_window,
       "no progress window while a long first run unpacks", exe_options_group);
  value("--splash", collected.splash, "IMAGE", "a PNG, JPEG, GIF or BMP image shown in the progress window",
        exe_options_group);
  app.add_option("operands", collected.operands)->group("");
}

// CLI11 reads "--name=" as "--name" still waiting for its value; here it is an empty value,
// which the option's own check then refuses by name.
std::vector<std::string> with_empty_values_apart(const std::vector<std::string>& arguments) {
  std::vector<std::string> result;
  bool only_operands = false;
  for (const std::string& argument : arguments) {
    if (argument == "--") only_operands = true;
    if (!only_operands && argument.starts_with("--") && argument.size() > 3 && argument.ends_with('=') &&
        argument.find('=') == argument.size() - 1) {
      result.push_back(argument.substr(0, argument.size() - 1));
      result.emplace_back();
    } else {
      result.push_back(argument);
    }
  }
  return result;
}

// The spelling the user gave for the option that CLI11 names by `name`: -o or --output.
std::string spelling_of(const std::vector<std::string>& arguments, const std::string& name) {
  for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument) {
    const std::string given = argument->substr(0, argument->find('='));
    if (given == name || (name == "--output" && given == "-o")) return given;
  }
  return name;
}

// Runs CLI11 over the arguments and turns its errors into one line naming the option.
void read_command_line(const std::vector<std::string>& arguments, CLI::App& app, bool& help) {
  std::vector<std::string> reversed = with_empty_values_apart(arguments);
  std::reverse(reversed.begin(), reversed.end());  // CLI11 takes its vector back to front
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    help = true;
  } catch (const CLI::ArgumentMismatch& error) {
    // Only the last argument can lack its value: every other one takes the next as its value.
    const std::string what = error.what();
    fail_usage(spelling_of(arguments, what.substr(0, what.find(':'))) + " needs a value");
  } catch (const CLI::ParseError& error) {
    fail_usage(std::string(error.what()) + " (see --help)");
  }
}

int parse_whole_number(std::string_view option, std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    fail_usage(std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + std::string(text) + "\"");
  }
  return value;
}

// One value of an option given at most once; `what` names what an empty one lacks.
std::optional<std::string> single(const std::vector<std::string>& values, const std::string& name,
                                  const char* twice, const char* what) {
  if (values.empty()) return std::nullopt;
  if (values.size() > 1) fail_usage(std::string("the ") + twice + " is given twice");
  if (values.front().empty()) fail_usage(name + " needs " + what);
  return values.front();
}

// The last value of one of the finished executable's options, checked.
std::string executable_option(const std::vector<std::string>& values, const std::string& name) {
  if (values.empty()) return {};
  const std::string& value = values.back();
  if (value.empty()) fail_usage(name + " needs a value");
  const auto text = utf8_to_utf16(value);
  if (!text) fail_usage(name + " needs UTF-8 text");
  if (name == "--version" && !version_numbers(*text)) {
    fail_usage("--version needs one to four numbers from 0 to 65535 separated by dots, like 2.1.0, not \"" + value +
               "\"");
  }
  return value;
}

void check_one_mode(const CLI::App& app, PackOptions& options) {
  for (const CLI::Option* option : app.parse_order()) {
    const std::string name = option->get_name();
    const PackMode mode = name == "--list" ? PackMode::list
                          : name == "--verify" ? PackMode::verify
                          : name == "--extract" ? PackMode::extract
                                                : PackMode::pack;
    if (mode == PackMode::pack) continue;
    if (options.mode != PackMode::pack) {
      fail_usage(name + " cannot be combined with another of --list, --verify, --extract");
    }
    options.mode = mode;
  }
}

// What a windowed executable shows a person: an executable's, and a splash needs its window.
void read_window_options(const Collected& collected, PackOptions& options) {
  options.no_error_dialog = collected.no_error_dialog;
  options.no_progress_window = collected.no_progress_window;
  options.splash = single(collected.splash, "--splash", "splash image", "an image file");
  if (options.splash && options.no_progress_window) {
    fail_usage("--splash shows in the progress window, which --no-progress-window turns off: give one");
  }
}

bool has_window_options(const PackOptions& options) {
  return options.no_error_dialog || options.no_progress_window || options.splash.has_value();
}

// --list, --verify and --extract read one file and pack nothing.
void check_inspection_arguments(PackOptions& options, const std::vector<std::string>& operands, bool have_output) {
  if (operands.size() != 1) fail_usage("--list, --verify and --extract need exactly one exe or attached-data file");
  const bool executable_options = options.console || options.windows || options.icon || options.manifest || !options.company.empty() ||
                                  !options.product.empty() || !options.version.empty();
  if (have_output || options.launcher || options.depfile || executable_options) {
    fail_usage("--output, --launcher, --depfile and the exe options belong to packing, not to --list, --verify or "
               "--extract");
  }
  if (options.attached_data_only) {
    fail_usage("--attached-data-only belongs to packing, not to --list, --verify or --extract");
  }
  options.inspected_file = operands.front();
}

}  // namespace

std::string usage_text() {
  CLI::App app("", "osvari-pack");
  Collected collected;
  define_options(app, collected);
  return app.help();
}

PackOptions parse_pack_arguments(const std::vector<std::string>& arguments, int hardware_threads) {
  PackOptions options;
  // Alone, --version asks for the tool's own; with a value it stays the executable's.
  if (arguments.size() == 1 && (arguments.front() == "--version" || arguments.front() == "-V")) {
    options.tool_version = true;
    return options;
  }
  CLI::App app("", "osvari-pack");
  Collected collected;
  define_options(app, collected);
  read_command_line(arguments, app, options.help);
  if (options.help) return options;
  for (const std::string& extra : app.remaining()) {
    if (extra == "--") continue;
    if (extra.size() > 1 && extra.starts_with('-')) {
      fail_usage("unknown option " + (extra.starts_with("--") ? extra.substr(0, extra.find('=')) : extra) +
                 " (see --help)");
    }
    // Nothing given may be left out of the executable without a word.
    fail_usage("unexpected argument \"" + extra + "\" (see --help)");
  }

  options.quiet = collected.quiet;
  options.cache = collected.cache;
  options.attached_data_only = collected.attached_data_only;
  options.console = collected.console;
  options.windows = collected.windows;
  if (options.console && options.windows) fail_usage("--console and --windows exclude each other: give one");
  options.level = default_compression_level;
  if (!collected.level.empty()) options.level = parse_whole_number("--level", collected.level.back(), 1, ZSTD_maxCLevel());
  options.threads = hardware_threads > 0 ? hardware_threads : 1;
  if (!collected.threads.empty()) options.threads = parse_whole_number("--threads", collected.threads.back(), 1, max_threads);
  const std::optional<std::string> output =
      single(collected.output, spelling_of(arguments, "--output"), "output file", "a file name");
  options.launcher = single(collected.launcher, "--launcher", "launcher", "a file name");
  options.depfile = single(collected.depfile, "--depfile", "depfile", "a file name");
  if (!collected.extract.empty()) {
    if (collected.extract.back().empty()) fail_usage("--extract needs a directory");
    options.extract_directory = collected.extract.back();
  }
  if (const std::string icon = executable_option(collected.icon, "--icon"); !icon.empty()) options.icon = icon;
  if (const std::string manifest = executable_option(collected.manifest, "--manifest"); !manifest.empty()) {
    options.manifest = manifest;
  }
  options.company = executable_option(collected.company, "--company");
  options.product = executable_option(collected.product, "--product");
  options.version = executable_option(collected.version, "--version");
  read_window_options(collected, options);
  check_one_mode(app, options);

  if (options.mode != PackMode::pack) {
    check_inspection_arguments(options, collected.operands, output.has_value());
    if (has_window_options(options)) {
      fail_usage("--no-error-dialog, --no-progress-window and --splash belong to packing, not to --list, --verify or "
                 "--extract");
    }
    return options;
  }
  if (collected.operands.empty()) fail_usage("no program or main library given (see --help)");
  if (!output) fail_usage("no output file given: use --output FILE");
  options.output = *output;
  if (options.attached_data_only && options.launcher) {
    fail_usage("--attached-data-only writes no executable, so it takes no --launcher");
  }
  const bool executable_options = options.console || options.windows || options.icon || options.manifest || !options.company.empty() ||
                                  !options.product.empty() || !options.version.empty();
  if (executable_options && options.attached_data_only) {
    fail_usage("--console, --windows, --icon, --manifest, --company, --product and --version need an executable, not "
               "--attached-data-only");
  }
  if (has_window_options(options) && options.attached_data_only) {
    fail_usage("--no-error-dialog, --no-progress-window and --splash need an executable, not --attached-data-only");
  }
  options.main_library = collected.operands.front();
  options.inputs.assign(collected.operands.begin() + 1, collected.operands.end());
  return options;
}

}  // namespace osvari::pack

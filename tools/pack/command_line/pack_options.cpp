#include "tools/pack/command_line/pack_options.h"

#include <zstd.h>

#include <charconv>

#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/executable_resources/version_resource.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

int parse_whole_number(std::string_view option, std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    fail_usage(std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + std::string(text) + "\"");
  }
  return value;
}

bool is_executable_option(const std::string& name) {
  return name == "--icon" || name == "--manifest" || name == "--company" || name == "--product" ||
         name == "--version";
}

// Sets one of the finished executable's options from its value.
void set_executable_option(const std::string& name, const std::string& value, PackOptions& options) {
  if (value.empty()) fail_usage(name + " needs a value");
  const auto text = utf8_to_utf16(value);
  if (!text) fail_usage(name + " needs UTF-8 text");
  if (name == "--icon") {
    options.icon = value;
  } else if (name == "--manifest") {
    options.manifest = value;
  } else if (name == "--company") {
    options.company = value;
  } else if (name == "--product") {
    options.product = value;
  } else {
    if (!version_numbers(*text)) {
      fail_usage("--version needs numbers from 0 to 65535, like 2.1.0, not \"" + value + "\"");
    }
    options.version = value;
  }
}

void choose_mode(PackOptions& options, PackMode mode, const std::string& option) {
  if (options.mode != PackMode::pack) {
    fail_usage(option + " cannot be combined with another of --list, --verify, --extract");
  }
  options.mode = mode;
}

// --list, --verify and --extract read one file and pack nothing.
void check_inspection_arguments(PackOptions& options, const std::vector<std::string>& operands, bool have_output) {
  if (operands.size() != 1) fail_usage("--list, --verify and --extract need exactly one exe or attached-data file");
  const bool executable_options = options.console || options.icon || options.manifest || !options.company.empty() ||
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

std::string_view usage_text() {
  return "Usage: osvari-pack [--level N] [--threads N] [--cache] [--launcher LAUNCHER.exe] [EXE OPTIONS]\n"
         "                   [--depfile FILE] [--quiet] --output FILE.exe\n"
         "                   MAIN_LIBRARY [FILE_OR_DIRECTORY...]\n"
         "       osvari-pack --attached-data-only [--level N] [--threads N] [--cache] [--depfile FILE]\n"
         "                   [--quiet] --output FILE MAIN_LIBRARY [FILE_OR_DIRECTORY...]\n"
         "       osvari-pack --list FILE | --verify FILE | --extract DIRECTORY FILE\n"
         "       osvari-pack --version\n"
         "\n"
         "Writes a onefile executable: a copy of the launcher carrying MAIN_LIBRARY (a DLL exporting\n"
         "run_code) first, then every FILE by its file name and every regular file below each\n"
         "DIRECTORY by its path relative to that directory, in sorted order.\n"
         "\n"
         "  -o, --output FILE     where to write the executable (or the attached data)\n"
         "  --level N             Zstandard compression level, 1 to 22 (default 19)\n"
         "  --threads N           compression threads (default: the number of hardware threads)\n"
         "  --launcher FILE       the launcher to copy; by default osvari-launcher.exe found beside\n"
         "                        osvari-pack, in ../share/osvari-onefile/ or in its build folder\n"
         "  --attached-data-only  write only the attached data, for a launcher you build yourself\n"
         "                        with it as RCDATA resource 27\n"
         "  --cache               unpack once into a per-user cache folder and run from there on\n"
         "                        later starts (see README), instead of a fresh folder each run\n"
         "  --depfile FILE        also write a Makefile-style list of every file and folder read\n"
         "  -q, --quiet           no progress and no summary line\n"
         "  --list FILE           list the entries of an exe or attached-data file with their sizes\n"
         "  --verify FILE         decode and check everything in an exe or attached-data file\n"
         "  --extract DIR FILE    write the entries of an exe or attached-data file below DIR\n"
         "  -h, --help            show this text\n"
         "  --version             alone: show osvari-pack's version\n"
         "\n"
         "Exe options (not with --attached-data-only):\n"
         "  --console             a console program (the default is a GUI program, see README)\n"
         "  --icon FILE.ico       the executable's icon\n"
         "  --company TEXT        version information: company name\n"
         "  --product TEXT        version information: product name (default: the output's name)\n"
         "  --version TEXT        version information: version, like 2.1.0\n"
         "  --manifest FILE       the application manifest, in place of the launcher's\n";
}

PackOptions parse_pack_arguments(const std::vector<std::string>& arguments, int hardware_threads) {
  PackOptions options;
  // Alone, --version asks for the tool's own; with a value it stays the executable's.
  if (arguments.size() == 1 && arguments.front() == "--version") {
    options.tool_version = true;
    return options;
  }
  options.level = default_compression_level;
  options.threads = hardware_threads > 0 ? hardware_threads : 1;
  bool have_output = false;
  bool only_operands = false;
  std::vector<std::string> operands;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (only_operands || argument.empty() || argument[0] != '-' || argument == "-") {
      operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      only_operands = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      return options;
    }
    if (argument == "--console") {
      options.console = true;
      continue;
    }
    if (argument == "-q" || argument == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (argument == "--list" || argument == "--verify") {
      choose_mode(options, argument == "--list" ? PackMode::list : PackMode::verify, argument);
      continue;
    }
    if (argument == "--cache") {
      options.cache = true;
      continue;
    }
    if (argument == "--attached-data-only") {
      options.attached_data_only = true;
      continue;
    }

    // Every remaining option takes a value, given as the next argument or after '='.
    std::string name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    const bool known = name == "-o" || name == "--output" || name == "--level" || name == "--threads" ||
                       name == "--launcher" || name == "--depfile" || name == "--extract" || is_executable_option(name);
    if (!known) fail_usage("unknown option " + name + " (see --help)");
    if (!value) {
      if (i + 1 == arguments.size()) fail_usage(name + " needs a value");
      value = arguments[++i];
    }

    if (name == "-o" || name == "--output") {
      if (have_output) fail_usage("the output file is given twice");
      if (value->empty()) fail_usage(name + " needs a file name");
      options.output = *value;
      have_output = true;
    } else if (name == "--level") {
      options.level = parse_whole_number(name, *value, 1, ZSTD_maxCLevel());
    } else if (is_executable_option(name)) {
      set_executable_option(name, *value, options);
    } else if (name == "--threads") {
      options.threads = parse_whole_number(name, *value, 1, max_threads);
    } else if (name == "--depfile") {
      if (options.depfile) fail_usage("the depfile is given twice");
      if (value->empty()) fail_usage(name + " needs a file name");
      options.depfile = *value;
    } else if (name == "--extract") {
      choose_mode(options, PackMode::extract, name);
      if (value->empty()) fail_usage(name + " needs a directory");
      options.extract_directory = *value;
    } else {
      if (options.launcher) fail_usage("the launcher is given twice");
      if (value->empty()) fail_usage(name + " needs a file name");
      options.launcher = *value;
    }
  }

  if (options.mode != PackMode::pack) {
    check_inspection_arguments(options, operands, have_output);
    return options;
  }
  if (operands.empty()) fail_usage("no main library given (see --help)");
  if (!have_output) fail_usage("no output file given: use --output FILE");
  const bool executable_options = options.console || options.icon || options.manifest || !options.company.empty() ||
                                  !options.product.empty() || !options.version.empty();
  if (options.attached_data_only && options.launcher) {
    fail_usage("--attached-data-only writes no executable, so it takes no --launcher");
  }
  if (executable_options && options.attached_data_only) {
    fail_usage("--console, --icon, --manifest, --company, --product and --version need an executable, not "
               "--attached-data-only");
  }
  options.main_library = operands.front();
  options.inputs.assign(operands.begin() + 1, operands.end());
  return options;
}

}  // namespace osvari::pack

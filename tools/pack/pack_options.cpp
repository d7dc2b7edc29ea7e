#include "tools/pack/pack_options.h"

#include <zstd.h>

#include <charconv>

#include "tools/pack/attached_data_format.h"
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

}  // namespace

std::string_view usage_text() {
  return "Usage: osvari-pack [--level N] [--threads N] [--launcher LAUNCHER.exe] --output FILE\n"
         "                   MAIN_LIBRARY [FILE_OR_DIRECTORY...]\n"
         "\n"
         "Writes attached data for the launcher: MAIN_LIBRARY (a DLL exporting run_code) first,\n"
         "then every FILE by its file name and every regular file below each DIRECTORY by its\n"
         "path relative to that directory, in sorted order.\n"
         "\n"
         "  -o, --output FILE     where to write the attached data (or the launcher copy)\n"
         "  --level N             Zstandard compression level, 1 to 22 (default 19)\n"
         "  --threads N           compression threads (default: the number of hardware threads)\n"
         "  --launcher FILE       write a copy of this launcher with the data attached as\n"
         "                        RCDATA resource 27 (Windows build only)\n"
         "  -h, --help            show this text\n";
}

PackOptions parse_pack_arguments(const std::vector<std::string>& arguments, int hardware_threads) {
  PackOptions options;
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

    // Every remaining option takes a value, given as the next argument or after '='.
    std::string name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    const bool known = name == "-o" || name == "--output" || name == "--level" || name == "--threads" ||
                       name == "--launcher";
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
    } else if (name == "--threads") {
      options.threads = parse_whole_number(name, *value, 1, max_threads);
    } else {
      if (options.launcher) fail_usage("the launcher is given twice");
      if (value->empty()) fail_usage(name + " needs a file name");
      options.launcher = *value;
    }
  }

  if (operands.empty()) fail_usage("no main library given (see --help)");
  if (!have_output) fail_usage("no output file given: use --output FILE");
  options.main_library = operands.front();
  options.inputs.assign(operands.begin() + 1, operands.end());
  return options;
}

}  // namespace osvari::pack

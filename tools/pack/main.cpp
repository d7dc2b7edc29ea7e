// osvari-pack: writes the attached data of a onefile application, or a launcher carrying it.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/attached_data/attached_data_writer.h"
#include "tools/pack/command_line/inspect_commands.h"
#include "tools/pack/command_line/pack_feedback.h"
#include "tools/pack/command_line/pack_options.h"
#include "tools/pack/executable_resources/launcher_attach.h"
#include "tools/pack/inputs/application_check.h"
#include "tools/pack/inputs/default_launcher.h"
#include "tools/pack/inputs/depfile.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/inputs/import_check.h"
#include "tools/pack/inputs/pack_inputs.h"
#include "tools/pack/output_files/pending_output.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

void check_output_is_no_input(const fs::path& output, const std::vector<PackEntry>& entries) {
  std::error_code error;
  if (!fs::exists(output, error)) return;
  for (const PackEntry& entry : entries) {
    if (fs::equivalent(entry.source, output, error)) {
      fail_bad_input("the output file is also an input: " + display_path(output));
    }
  }
}

// A program keeps its own subsystem unless an option says otherwise; a library's launcher is a
// GUI program unless it says console.
ExecutableOptions executable_options_of(const PackOptions& options, const CheckedApplication& application,
                                        const fs::path& application_path, std::uint64_t unpacked_bytes) {
  const auto optional_path = [](const std::optional<std::string>& argument) -> std::optional<fs::path> {
    if (!argument) return std::nullopt;
    return path_from_argument(*argument);
  };
  const bool program = application.form == ApplicationForm::program;
  const bool console = options.console || (program && application.console && !options.windows);
  return {console,
          optional_path(options.icon),
          optional_path(options.manifest),
          options.company,
          options.product,
          options.version,
          program ? std::optional<fs::path>(application_path) : std::nullopt,
          {.error_dialog = !options.no_error_dialog,
           .progress_window = !options.no_progress_window,
           .unpacked_bytes = unpacked_bytes},
          optional_path(options.splash)};
}

// The form of the first input; a missing or odd one is left for the entries' own check, whose
// messages name what is wrong.
CheckedApplication checked_application(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return {};
  return check_application(path);
}

fs::path default_launcher() {
  const std::optional<fs::path> tool = own_program_path();
  std::optional<fs::path> launcher;
  if (tool) launcher = find_default_launcher(*tool);
  if (!launcher) {
    fail_bad_input(std::string("no ") + launcher_file_name + " found beside osvari-pack" +
                   (tool ? " (" + display_path(tool->parent_path()) + ")" : std::string()) +
                   ", in ../share/osvari-onefile/ or in its build folder: give one with --launcher FILE, or "
                   "write the attached data alone with --attached-data-only");
  }
  return *launcher;
}

int run_pack(const std::vector<std::string>& arguments) {
  const auto hardware_threads = static_cast<int>(std::thread::hardware_concurrency());
  const PackOptions options = parse_pack_arguments(arguments, std::min(hardware_threads, max_threads));
  if (options.help) {
    std::cout << usage_text();
    return 0;
  }
  if (options.tool_version) {
    std::cout << "osvari-pack " << OSVARI_ONEFILE_VERSION << '\n';
    return 0;
  }
  if (options.mode != PackMode::pack) return run_inspection(options);

  std::optional<fs::path> launcher_path;
  if (options.launcher) {
    launcher_path = path_from_argument(*options.launcher);
  } else if (!options.attached_data_only) {
    launcher_path = default_launcher();
  }

  std::vector<fs::path> inputs;
  for (const std::string& input : options.inputs) inputs.push_back(path_from_argument(input));
  const fs::path application_path = path_from_argument(options.main_library);
  const CheckedApplication application = checked_application(application_path);
  const bool carries_program = application.form == ApplicationForm::program;
  const std::vector<PackEntry> entries = collect_pack_entries(application_path, inputs, !carries_program);
  warn_about_missing_imports(entries, std::cerr);
  const fs::path output = path_from_argument(options.output);
  check_output_is_no_input(output, entries);

  // libzstd writes the same bytes for any number of workers, but other bytes without any: at
  // least one worker keeps the output independent of --threads and of the hardware.
  const CompressionOptions compression{options.level, options.threads};
  std::uint64_t input_bytes = 0;
  for (const PackEntry& entry : entries) input_bytes += entry.size;
  PackFeedback feedback(std::cerr, standard_error_is_terminal(), options.quiet, entries.size(), input_bytes);
  const auto input_read = [&](std::uint64_t bytes) { feedback.input_read(bytes); };
  const auto finish = [&] {
    if (options.depfile) {
      std::vector<fs::path> read = packing_dependencies(path_from_argument(options.main_library), inputs, entries);
      if (launcher_path) read.push_back(*launcher_path);
      for (const auto& file : {options.icon, options.manifest, options.splash}) {
        if (file) read.push_back(path_from_argument(*file));
      }
      write_depfile(path_from_argument(*options.depfile), output, read);
    }
    feedback.finish();
    return 0;
  };
  if (launcher_path) {
    // The launcher and the executable's options are checked before the long compression.
    PeEditor launcher =
        prepare_launcher(*launcher_path, output,
                         executable_options_of(options, application, application_path, input_bytes));
    // A resource is written from memory; the compressed data is a fraction of the inputs.
    std::string attached_data;
    write_attached_data(
        entries, compression, [&](std::string_view bytes) { attached_data.append(bytes); }, input_read,
        options.cache, carries_program);
    feedback.output_written(attached_data.size());
    const std::vector<std::string> notes =
        write_launcher_with_attached_data(std::move(launcher), output, std::move(attached_data));
    for (const std::string& note : notes) std::cerr << "osvari-pack: " << note << '\n';
    std::error_code error;
    const std::uintmax_t executable_size = fs::file_size(output, error);
    if (!error) feedback.executable_written(executable_size);
    return finish();
  }
  PendingOutput pending(output);
  write_attached_data(
      entries, compression,
      [&](std::string_view bytes) {
        pending.write(bytes);
        feedback.output_written(bytes.size());
      },
      input_read, options.cache, carries_program);
  pending.commit();
  return finish();
}

int main_with_arguments(const std::vector<std::string>& arguments) {
  try {
    return run_pack(arguments);
  } catch (const PackError& error) {
    std::cerr << "osvari-pack: " << error.what() << '\n';
    return error.exit_code;
  } catch (const std::exception& error) {
    std::cerr << "osvari-pack: " << error.what() << '\n';
    return exit_bad_input;
  }
}

}  // namespace
}  // namespace osvari::pack

#ifdef _WIN32
// Wide arguments keep every file name intact; they continue as UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::u8string text = std::filesystem::path(argv[i]).u8string();
    arguments.emplace_back(text.begin(), text.end());
  }
  return osvari::pack::main_with_arguments(arguments);
}
#else
int main(int argc, char** argv) { return osvari::pack::main_with_arguments({argv + 1, argv + argc}); }
#endif

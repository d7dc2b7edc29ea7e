#include "tools/pack/command_line/inspect_commands.h"

#include <iostream>
#include <string>

#include "payload/application_kind.h"
#include "payload/attached_data_layout.h"
#include "tools/pack/attached_data/attached_data_source.h"
#include "tools/pack/attached_data/attached_data_walk.h"
#include "tools/pack/inputs/entry_name_check.h"
#include "tools/pack/inputs/entry_name_collisions.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/output_files/extraction_folder.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

bool carries_program(const AttachedDataSource& source) {
  const std::size_t header = attached_data_header.size();
  if (source.bytes.size() < header) return false;
  const auto* stream = reinterpret_cast<const unsigned char*>(source.bytes.data()) + header;
  return read_application_kind(stream, source.bytes.size() - header) == ApplicationKind::program;
}

std::string right_aligned(std::uint64_t value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// The walk of --verify and the first pass of --extract: every name as the launcher would take it.
WalkSummary verify_walk(const AttachedDataSource& source) {
  const bool program = carries_program(source);
  std::uint64_t index = 0;
  EntryNameCollisions collisions;
  EntryHandlers handlers;
  handlers.begin = [&](std::u16string_view name, std::uint64_t) {
    ++index;
    const std::string where =
        display_path(source.file) + ": entry " + std::to_string(index) + " \"" + printable_entry_name(name) + "\"";
    if (const std::string problem = entry_name_problem(name); !problem.empty()) {
      fail_bad_input(where + ": the name " + problem);
    }
    if (index == 1 && !program && !ends_in_dll(name))
      fail_bad_input(where + ": the main library's name does not end in \".dll\"");
    // Caught here, before --extract writes anything: one entry would overwrite another, or stop
    // it from being written halfway through.
    if (const auto collision = collisions.add(name)) {
      const std::string other = "entry " + std::to_string(collision->earlier + 1) + " \"" +
                                printable_entry_name(collisions.name(collision->earlier)) + "\"";
      switch (collision->kind) {
        case NameCollisionKind::same_name:
          fail_bad_input(where + ": the name is already " + other);
        case NameCollisionKind::letter_case:
          fail_bad_input(where + ": the name differs only in letter case from " + other);
        case NameCollisionKind::file_is_folder:
          fail_bad_input(where + (collision->earlier_is_the_file ? ": a folder on its path is the file " + other
                                                                 : ": the name is a folder on the path of " + other));
      }
    }
  };
  return walk_attached_data(source, handlers);
}

}  // namespace

void list_attached_data(const std::filesystem::path& file, std::ostream& out) {
  const AttachedDataSource source = read_attached_data_of(file);
  constexpr std::size_t width = 14;
  // Lines are printed as the walk reaches each entry: a damaged stream still shows what came before.
  EntryHandlers handlers;
  handlers.begin = [&](std::u16string_view name, std::uint64_t size) {
    out << right_aligned(size, width) << "  " << printable_entry_name(name) << '\n';
  };
  const WalkSummary summary = walk_attached_data(source, handlers);
  out << right_aligned(summary.content_bytes, width) << "  total in " << summary.entries
      << (summary.entries == 1 ? " entry" : " entries") << '\n';
  if (summary.program) out << "the first entry is a program, which the launcher starts itself\n";
  if (!summary.cache_id.empty()) out << "runs from the extraction cache, id " << summary.cache_id << '\n';
}

void verify_attached_data(const std::filesystem::path& file, std::ostream& out) {
  const AttachedDataSource source = read_attached_data_of(file);
  const WalkSummary summary = verify_walk(source);
  out << "OK: " << display_path(file) << ": " << summary.entries << (summary.entries == 1 ? " entry, " : " entries, ")
      << summary.content_bytes << " bytes, " << (summary.checksummed ? "checksum verified" : "no checksum to verify")
      << (summary.cache_id.empty() ? "" : ", cache index matches") << '\n';
}

void extract_attached_data(const std::filesystem::path& file, const std::filesystem::path& directory,
                           std::ostream& out) {
  const AttachedDataSource source = read_attached_data_of(file);
  verify_walk(source);
  ExtractionFolder folder(directory);
  EntryHandlers handlers;
  handlers.begin = [&](std::u16string_view name, std::uint64_t) { folder.begin(name); };
  handlers.contents = [&](std::string_view bytes) { folder.write(bytes); };
  handlers.end = [&] { folder.finish(); };
  const WalkSummary summary = walk_attached_data(source, handlers);
  out << "extracted " << summary.entries << (summary.entries == 1 ? " entry, " : " entries, ")
      << summary.content_bytes << (summary.content_bytes == 1 ? " byte" : " bytes") << ", into "
      << display_path(directory) << '\n';
}

int run_inspection(const PackOptions& options) {
  const std::filesystem::path file = path_from_argument(options.inspected_file);
  switch (options.mode) {
    case PackMode::list:
      list_attached_data(file, std::cout);
      break;
    case PackMode::verify:
      verify_attached_data(file, std::cout);
      break;
    case PackMode::extract:
      extract_attached_data(file, path_from_argument(options.extract_directory), std::cout);
      break;
    case PackMode::pack:
      break;
  }
  std::cout.flush();
  return 0;
}

}  // namespace osvari::pack

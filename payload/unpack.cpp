#include "payload/unpack.h"

#include <algorithm>
#include <cstdint>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "base/little_endian.h"
#include "base/shared_state.h"
#include "paths/known_directories.h"
#include "payload/attached_data_reader.h"
#include "payload/complete_write.h"
#include "payload/entry_name.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

constexpr std::uint64_t chunk_size = 32768;

using EntryName = BoundedWideString<1024>;
using TargetPath = BoundedWideString<4096>;

EntryName name;
TargetPath target_path;
// As roomy as a target path, so any unpack directory that holds files can hold the library.
TargetPath main_library;
unsigned char chunk[chunk_size];
// The file being written, here rather than on the stack so that a failure exit can close it
// before the unpack directory is removed.
UniqueFileHandle target_file;

// Reads the next name, one code unit at a time, up to its zero unit.
void read_entry_name() {
  name.clear();
  for (;;) {
    char16_t unit = 0;
    read_attached_data(&unit, sizeof unit);
    if (unit == 0) return;
    if (!name.append(static_cast<wchar_t>(unit))) fail_internal_limit("an entry name does not fit in 1024 code units");
  }
}

std::uint64_t read_entry_size() {
  unsigned char bytes[8];
  read_attached_data(bytes, sizeof bytes);
  return little_endian_value(bytes, sizeof bytes);
}

void make_parent_directory() {
  TargetPath directory;
  (void)directory.assign(target_path.view());
  const std::size_t last = directory.view().find_last_of(L'\\');
  if (last == std::wstring_view::npos || last == 0) return;
  directory.truncate(last);
  // One that still does not exist shows up as a failure to create the file.
  ensure_directory_with_ancestors(directory.c_str());
}

// Decodes and drops the contents of an entry that stays as it is on disk.
void skip_entry_contents(std::uint64_t size) {
  while (size > 0) {
    const auto length = static_cast<std::uint32_t>(std::min(size, chunk_size));
    read_attached_data(chunk, length);
    size -= length;
  }
}

void write_entry_contents(std::uint64_t size) {
  make_parent_directory();
  target_file = create_file_for_writing(target_path.c_str());
  if (!target_file.is_valid()) fatal_open_for_writing(target_path.view());
  while (size > 0) {
    const auto length = static_cast<std::uint32_t>(std::min(size, chunk_size));
    read_attached_data(chunk, length);
    const bool written = write_completely(chunk, length, [](const unsigned char* data, std::uint32_t count,
                                                            std::uint32_t& taken) {
      return write_file(target_file.get(), data, count, taken);
    });
    if (!written) fatal_system_error("Error, couldn't unpack file to target path.", last_error());
    size -= length;
  }
  target_file.reset();
}

[[noreturn]] void fail_plan() { fatal_error("Error, couldn't decode attached data."); }

void join_target_path(std::wstring_view directory, std::wstring_view entry_name) {
  target_path.clear();
  if (!target_path.append(directory) || !target_path.append(L'\\') || !target_path.append(entry_name)) {
    fail_internal_limit("a target path does not fit in 4096 code units");
  }
}

}  // namespace

void unpack_files(RoleKind role, const UnpackPlan* plan) {
  main_library.clear();
  for (std::size_t index = 0;; ++index) {
    read_entry_name();
    if (name.empty()) {
      if (plan != nullptr && index != plan->expected.size()) fail_plan();
      return;
    }
    if (plan != nullptr && (index >= plan->expected.size() || plan->expected[index].name != name.view())) fail_plan();
    if (!is_safe_entry_name(name.view())) fatal_error("Error, unsafe file name in attached data.");
    join_target_path(unpack_directory().view(), name.view());
    if (main_library.empty() && !main_library.assign(target_path.view())) {
      fail_internal_limit("the main library path does not fit in 4096 code units");
    }
    if (role == RoleKind::child) return;
    const std::uint64_t size = read_entry_size();
    if (plan != nullptr && plan->expected[index].size != size) fail_plan();
    if (plan != nullptr && plan->rewrite != nullptr && !(*plan->rewrite)[index]) {
      skip_entry_contents(size);
    } else {
      write_entry_contents(size);
    }
  }
}

const wchar_t* main_library_path() { return main_library.c_str(); }

void set_main_library_path(std::wstring_view directory, std::wstring_view entry_name) {
  join_target_path(directory, entry_name);
  if (!main_library.assign(target_path.view())) {
    fail_internal_limit("the main library path does not fit in 4096 code units");
  }
}

void close_target_file() { target_file.reset(); }

}  // namespace osvari

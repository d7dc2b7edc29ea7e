#include "payload/unpack.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "base/little_endian.h"
#include "base/shared_state.h"
#include "paths/known_directories.h"
#include "payload/attached_data_reader.h"
#include "payload/entry_name.h"
#include "payload/entry_name_set.h"
#include "payload/unpack_pipeline.h"
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

UnpackFailure decode_failure(std::uint64_t entry) { return UnpackFailure::at(UnpackFailure::Kind::decode, entry); }

UnpackFailure limit_failure(std::uint64_t entry, const char* what) {
  UnpackFailure failure = UnpackFailure::at(UnpackFailure::Kind::internal_limit, entry);
  failure.what = what;
  return failure;
}

// Reads the next name, one code unit at a time, up to its zero unit.
UnpackFailure read_entry_name(std::uint64_t entry) {
  name.clear();
  for (;;) {
    char16_t unit = 0;
    if (!try_read_attached_data(&unit, sizeof unit)) return decode_failure(entry);
    if (unit == 0) return {};
    if (!name.append(static_cast<wchar_t>(unit))) {
      return limit_failure(entry, "an entry name does not fit in 1024 code units");
    }
  }
}

bool read_entry_size(std::uint64_t& size) {
  unsigned char bytes[8];
  if (!try_read_attached_data(bytes, sizeof bytes)) return false;
  size = little_endian_value(bytes, sizeof bytes);
  return true;
}

void (*during_unpacking)() = nullptr;

// Decodes and drops the contents of an entry that stays as it is on disk.
bool skip_entry_contents(std::uint64_t size) {
  constexpr std::uint64_t chunks_per_call = (1 << 20) / chunk_size;
  for (std::uint64_t chunks = 1; size > 0; ++chunks) {
    const auto length = static_cast<std::uint32_t>(std::min(size, chunk_size));
    if (!try_read_attached_data(chunk, length)) return false;
    size -= length;
    if (chunks % chunks_per_call == 0 && during_unpacking != nullptr) during_unpacking();
  }
  return true;
}

// Decodes the contents straight into the write queue's blocks. False once a writer has failed or
// all have stopped.
bool pass_on_entry_contents(UnpackPipeline& pipeline, std::uint64_t size, std::uint64_t entry, UnpackFailure& failure) {
  if (!pipeline.begin_file(target_path.view(), size, entry)) return false;
  while (size > 0) {
    const std::span<unsigned char> room = pipeline.room(size);
    if (room.empty()) return false;
    if (!try_read_attached_data(room.data(), room.size())) {
      failure = decode_failure(entry);
      return false;
    }
    pipeline.commit(room.size());
    size -= room.size();
  }
  pipeline.end_file();
  return true;
}

// A name that Windows takes for an earlier entry's file, or for a folder on its path (or the
// other way round), would have two writers at one file, or the later entry in another's place.
UnpackFailure claim_entry_name(EntryNameSet& names, std::uint64_t entry) {
  try {
    if (names.add(name.view())) return UnpackFailure::at(UnpackFailure::Kind::repeated_name, entry);
  } catch (const std::bad_alloc&) {
    return UnpackFailure::at(UnpackFailure::Kind::out_of_memory, entry);
  }
  return {};
}

bool join_target_path(std::wstring_view directory, std::wstring_view entry_name) {
  target_path.clear();
  return target_path.append(directory) && target_path.append(L'\\') && target_path.append(entry_name);
}

// The walk over the entries on the decoding thread. Every failure is returned rather than
// reported, so that the writers are joined first and the earliest failure is the one reported.
UnpackFailure walk_entries(RoleKind role, const UnpackPlan* plan, UnpackPipeline* pipeline) {
  EntryNameSet names;
  for (std::uint64_t index = 0;; ++index) {
    if (UnpackFailure failure = read_entry_name(index); failure.failed()) return failure;
    if (name.empty()) {
      if (plan != nullptr && index != plan->expected.size()) return decode_failure(index);
      return {};
    }
    if (plan != nullptr && (index >= plan->expected.size() || plan->expected[index].name != name.view())) {
      return decode_failure(index);
    }
    if (!is_safe_entry_name(name.view())) return UnpackFailure::at(UnpackFailure::Kind::unsafe_name, index);
    if (UnpackFailure failure = claim_entry_name(names, index); failure.failed()) return failure;
    if (!join_target_path(unpack_directory().view(), name.view())) {
      return limit_failure(index, "a target path does not fit in 4096 code units");
    }
    if (main_library.empty() && !main_library.assign(target_path.view())) {
      return limit_failure(index, "the main library path does not fit in 4096 code units");
    }
    if (role == RoleKind::child) return {};
    std::uint64_t size = 0;
    if (!read_entry_size(size)) return decode_failure(index);
    if (plan != nullptr && plan->expected[index].size != size) return decode_failure(index);
    if (plan != nullptr && plan->rewrite != nullptr && !(*plan->rewrite)[index]) {
      if (!skip_entry_contents(size)) return decode_failure(index);
      continue;
    }
    UnpackFailure failure;
    if (!pass_on_entry_contents(*pipeline, size, index, failure)) return failure;
  }
}

// The decoding and writing threads of every unpacking in this process share one queue, which
// a console event stops for good.
WriteQueue& process_write_queue() {
  static WriteQueue queue;
  return queue;
}

// A console event is removing the unpack directory and ending the process; nothing is to be
// reported or written any more.
[[noreturn]] void wait_for_the_end() {
  for (;;) sleep_milliseconds(infinite_wait);
}

[[noreturn]] void report(const UnpackFailure& failure) {
  switch (failure.kind) {
    case UnpackFailure::Kind::decode:
      fatal_error("Error, couldn't decode attached data.");
    case UnpackFailure::Kind::unsafe_name:
      fatal_error("Error, unsafe file name in attached data.");
    case UnpackFailure::Kind::repeated_name:
      fatal_error("Error, repeated file name in attached data.");
    case UnpackFailure::Kind::out_of_memory:
      fatal_error("Error, couldn't allocate memory.");
    case UnpackFailure::Kind::internal_limit:
      fail_internal_limit(failure.what);
    case UnpackFailure::Kind::open:
      fatal_open_for_writing(failure.path);
    case UnpackFailure::Kind::write:
      fatal_system_error("Error, couldn't unpack file to target path.", failure.code);
    case UnpackFailure::Kind::none:
    case UnpackFailure::Kind::stopped:
      break;
  }
  wait_for_the_end();
}

}  // namespace

UnpackFailure unpack_entries(RoleKind role, const UnpackPlan* plan, WriteQueue& queue,
                             std::span<UnpackTargets* const> writers) {
  main_library.clear();
  if (role == RoleKind::child) return walk_entries(role, plan, nullptr);
  if (!queue.reset()) fatal_error("Error, couldn't allocate memory.");
  // A writer must never be the one to end the process: the list learns the profile
  // directory here, which may end the run.
  known_directories().prepare();
  UnpackTimes* times = queue.times();
  UnpackPipeline pipeline(queue, writers);
  UnpackFailure decoder_failure;
  {
    const TimedSpan walking(times == nullptr ? nullptr : &times->decoder_walk);
    decoder_failure = walk_entries(role, plan, &pipeline);
  }
  const TimedSpan finishing(times == nullptr ? nullptr : &times->finishing);
  return pipeline.finish(decoder_failure);
}

void unpack_files(RoleKind role, const UnpackPlan* plan) {
  const UnpackFailure failure = unpack_entries(role, plan, process_write_queue(), system_unpack_targets());
  if (failure.failed()) report(failure);
}

const wchar_t* main_library_path() { return main_library.c_str(); }

void set_main_library_path(std::wstring_view directory, std::wstring_view entry_name) {
  if (!join_target_path(directory, entry_name) || !main_library.assign(target_path.view())) {
    fail_internal_limit("the main library path does not fit in 4096 code units");
  }
}

std::uint64_t unpacked_bytes_written() { return process_write_queue().bytes_written(); }

void call_during_unpacking(void (*hook)()) {
  during_unpacking = hook;
  process_write_queue().call_after_each_block(hook);
}

void stop_unpacking() { process_write_queue().stop_writers_and_wait(); }

}  // namespace osvari

#include "base/shared_state.h"

namespace osvari {
namespace {

std::atomic<bool> unpack_flag{false};
std::atomic<bool> directory_created{false};
std::atomic<bool> directory_kept{false};
std::atomic<RawHandle> published_child{nullptr};
std::atomic<bool> child_is_program{false};

}  // namespace

UnpackDirectory& unpack_directory() {
  static UnpackDirectory directory;
  return directory;
}

void raise_unpack_flag() { unpack_flag.store(true); }

bool unpack_flag_raised() { return unpack_flag.load(); }

void mark_unpack_directory_created() { directory_created.store(true); }

bool unpack_directory_created() { return directory_created.load(); }

void mark_unpack_directory_kept() { directory_kept.store(true); }

bool unpack_directory_kept() { return directory_kept.load(); }

void mark_child_runs_program() { child_is_program.store(true); }

bool child_runs_program() { return child_is_program.load(); }

void publish_child_process(UniqueHandle handle) {
  UniqueHandle previous(published_child.exchange(handle.release()));
}

UniqueHandle take_child_process() { return UniqueHandle(published_child.exchange(nullptr)); }

}  // namespace osvari

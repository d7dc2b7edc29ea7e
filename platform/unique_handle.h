// Move-only owners for kernel handles and loaded modules: each closes exactly once.
#pragma once

#include <utility>

namespace osvari {

// A handle value as the platform gives it, without pulling in <windows.h>.
using RawHandle = void*;

inline RawHandle invalid_handle_value() { return reinterpret_cast<RawHandle>(static_cast<long long>(-1)); }

void close_raw_handle(RawHandle handle);
void close_find_handle(RawHandle handle);  // FindClose

struct FileHandleTraits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
  static bool is_valid(RawHandle h) { return h != nullptr && h != invalid_handle_value(); }
  static void close(RawHandle h) { close_raw_handle(h); }
};

struct KernelHandleTraits {  // OpenProcess, CreateProcessW and friends report failure as null
  static bool is_valid(RawHandle h) { return h != nullptr; }
  static void close(RawHandle h) { close_raw_handle(h); }
};

struct FindHandleTraits {  // FindFirstFileExW: INVALID_HANDLE_VALUE on failure, closed by FindClose
  static bool is_valid(RawHandle h) { return h != nullptr && h != invalid_handle_value(); }
  static void close(RawHandle h) { close_find_handle(h); }
};

template <typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(RawHandle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~ScopedHandle() { reset(); }

  [[nodiscard]] bool is_valid() const { return Traits::is_valid(handle_); }
  [[nodiscard]] RawHandle get() const { return handle_; }
  RawHandle release() { return std::exchange(handle_, nullptr); }
  void reset(RawHandle handle = nullptr) {
    RawHandle old = std::exchange(handle_, handle);
    if (Traits::is_valid(old)) Traits::close(old);
  }

 private:
  RawHandle handle_ = nullptr;
};

using UniqueFileHandle = ScopedHandle<FileHandleTraits>;
using UniqueHandle = ScopedHandle<KernelHandleTraits>;
using UniqueFindHandle = ScopedHandle<FindHandleTraits>;

}  // namespace osvari

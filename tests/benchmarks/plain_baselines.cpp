#include "tests/benchmarks/plain_baselines.h"

#include <zstd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "platform/win32.h"

namespace osvari::benchmark {
namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "plain baseline: %s\n", what);
  std::exit(1);
}

// Decoded bytes on demand, as a straightforward streaming loop takes them.
class PlainDecoder {
 public:
  explicit PlainDecoder(std::string_view attached_data)
      : input_{attached_data.data() + 3, attached_data.size() - 3, 0}, buffer_(ZSTD_DStreamOutSize()) {}
  ~PlainDecoder() { ZSTD_freeDCtx(context_); }

  void read(void* destination, std::size_t count) {
    auto* target = static_cast<char*>(destination);
    while (count > 0) {
      if (held_ == taken_) refill();
      const std::size_t n = std::min(count, held_ - taken_);
      std::memcpy(target, buffer_.data() + taken_, n);
      taken_ += n;
      target += n;
      count -= n;
    }
  }

  // Hands out up to `count` bytes in place.
  std::string_view take(std::size_t count) {
    if (held_ == taken_) refill();
    const std::size_t n = std::min(count, held_ - taken_);
    const std::string_view bytes(buffer_.data() + taken_, n);
    taken_ += n;
    return bytes;
  }

 private:
  void refill() {
    do {
      ZSTD_outBuffer output{buffer_.data(), buffer_.size(), 0};
      if (ZSTD_isError(ZSTD_decompressStream(context_, &output, &input_))) fail("decode error");
      held_ = output.pos;
      taken_ = 0;
      if (held_ == 0 && input_.pos == input_.size) fail("data ends early");
    } while (held_ == 0);
  }

  ZSTD_DCtx* context_ = ZSTD_createDCtx();
  ZSTD_inBuffer input_;
  std::vector<char> buffer_;
  std::size_t held_ = 0;
  std::size_t taken_ = 0;
};

void make_directories(const std::wstring& path, std::set<std::wstring>& made) {
  if (made.contains(path)) return;
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() == ERROR_PATH_NOT_FOUND) {
    make_directories(path.substr(0, path.find_last_of(L'\\')), made);
    CreateDirectoryW(path.c_str(), nullptr);
  }
  made.insert(path);
}

std::size_t remove_below(std::wstring& path) {
  std::size_t removed = 0;
  const std::size_t length = path.size();
  path += L"\\*";
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  path.resize(length);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    path += L'\\';
    path += name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      removed += remove_below(path);
      RemoveDirectoryW(path.c_str());
    } else if (DeleteFileW(path.c_str())) {
      ++removed;
    }
    path.resize(length);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

}  // namespace

std::size_t plain_unpack(std::string_view attached_data, const std::wstring& directory) {
  PlainDecoder decoder(attached_data);
  std::set<std::wstring> made;
  make_directories(directory, made);
  std::size_t files = 0;
  for (;;) {
    std::wstring name;
    for (char16_t unit = 0;;) {
      decoder.read(&unit, sizeof unit);
      if (unit == 0) break;
      name.push_back(static_cast<wchar_t>(unit));
    }
    if (name.empty()) return files;
    std::uint64_t size = 0;
    decoder.read(&size, sizeof size);
    const std::wstring path = directory + L"\\" + name;
    make_directories(path.substr(0, path.find_last_of(L'\\')), made);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("cannot create a file");
    while (size > 0) {
      const std::string_view bytes = decoder.take(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 20)));
      DWORD written = 0;
      if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) fail("write error");
      size -= bytes.size();
    }
    CloseHandle(file);
    ++files;
  }
}

void decode_only(std::string_view attached_data) {
  PlainDecoder decoder(attached_data);
  for (;;) {
    std::size_t units = 0;
    for (char16_t unit = 0;; ++units) {
      decoder.read(&unit, sizeof unit);
      if (unit == 0) break;
    }
    if (units == 0) return;
    std::uint64_t size = 0;
    decoder.read(&size, sizeof size);
    while (size > 0) size -= decoder.take(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 20))).size();
  }
}

std::size_t plain_remove(const std::wstring& directory) {
  std::wstring path = directory;
  const std::size_t removed = remove_below(path);
  RemoveDirectoryW(directory.c_str());
  return removed;
}

std::uint64_t system_time_now() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace osvari::benchmark

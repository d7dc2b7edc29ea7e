// Which folders this launcher made: the parent records each unpack or fill folder it creates,
// and only a recorded folder is ever swept. The record lives in the user's registry, outside
// the folder, so the application sees exactly its packed files there. It is named after the
// folder and holds the folder's identity, so another folder put at a recorded name later is not
// taken for it, and its full path, so a later start can tell that the folder has gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/files.h"

namespace osvari {

inline constexpr std::size_t record_identity_bytes = 12;  // volume serial, then file index
// The unpack directory's 4096 units and the "\\?\UNC\" form's prefix: longer paths are
// recorded without one, as older launchers recorded every folder.
inline constexpr std::size_t record_path_capacity = 4104;
inline constexpr std::size_t record_capacity = record_identity_bytes + 2 * record_path_capacity;
// Records are named "onefile_<id>_<time>"; a longer name is none of ours.
inline constexpr std::size_t record_name_capacity = 64;
// A record without a path cannot be tested: it goes once its name's time stamp is this old
// (30 days in 100 ns intervals).
inline constexpr std::uint64_t pathless_record_age = 30ull * 24 * 60 * 60 * 10'000'000;
// A record of a folder about to be made, whose folder is not there, goes once its name's time
// stamp is this old (a minute): its run may be about to create it.
inline constexpr std::uint64_t unmade_record_age = 60ull * 10'000'000;

struct MadeFolderRecord {
  FileIdentity identity;  // none (all zero) before the folder exists
  std::wstring path;      // the "\\?\" form; empty in a record an older launcher wrote

  [[nodiscard]] bool is_about_to_be_made() const { return identity == FileIdentity{}; }
};

std::vector<unsigned char> encode_made_folder_record(const MadeFolderRecord& record);
// No value for bytes that are no record: shorter than an identity, or a path of odd length.
std::optional<MadeFolderRecord> decode_made_folder_record(std::span<const unsigned char> bytes);

// Before this process creates the folder at `path`: records it as about to be made, with its
// path and no identity. A run killed between the creation and record_made_folder (which can be
// a while under load) thus leaves an empty folder that the sweep can still tell as this
// launcher's, and take as long as it is empty.
void record_folder_to_make(const std::wstring& path);

// Records the folder at `path` (just created by this process) under its name.
void record_made_folder(const std::wstring& path);

enum class MadeFolder { not_recorded, made, about_to_be_made };
// How the folder at `path` is recorded under its name: made (the recorded identity is the
// folder's), about to be made (a record without identity naming this very path), or neither.
MadeFolder recorded_state(const std::wstring& path);

// recorded_state is made.
bool is_recorded_made_folder(const std::wstring& path);

// Drops the record of the folder named like `path`'s last component, once it is gone.
void forget_made_folder(const std::wstring& path);

// What the tidying of records asks of the system; tests script it.
class RecordOperations {
 public:
  virtual ~RecordOperations() = default;
  virtual std::uint32_t count() = 0;
  // The name at `index` in the store's order; no value when there is none or it is too long.
  virtual std::optional<std::wstring> name_at(std::uint32_t index) = 0;
  // No value when the value is missing, larger than record_capacity or no record.
  virtual std::optional<MadeFolderRecord> read(const std::wstring& name) = 0;
  virtual void drop(const std::wstring& name) = 0;
  // True only when the system says nothing is at `path` (not when it cannot tell).
  virtual bool is_gone(const std::wstring& path) = 0;
  virtual std::optional<FileIdentity> identity(const std::wstring& path) = 0;
  virtual std::uint64_t now() = 0;  // the system time, in the time stamp's units
};

RecordOperations& system_record_operations();

// Looks at up to `limit` records, beginning at the `rotation`-th (modulo their number) so that
// records kept for folders that stay do not take every start's turns, and drops those whose
// folder is gone or is another folder now, path-less ones older than pathless_record_age by
// their name, and records of folders about to be made that never were, once their name is a
// minute old (the sweep takes those whose folder is there). `out_of_time`, asked before each record, stops it early. Returns the names
// dropped.
std::vector<std::wstring> drop_stale_records(RecordOperations& system, std::size_t limit, std::uint64_t rotation,
                                             const std::function<bool()>& out_of_time);

}  // namespace osvari

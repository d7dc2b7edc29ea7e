// The first failure of an unpacking, as it is reported: whichever of the decoding and the
// writing thread met it, it is the one a strictly serial unpacking would have met first.
#pragma once

#include <cstdint>
#include <string>

namespace osvari {

struct UnpackFailure {
  enum class Kind {
    none,
    decode,          // "Error, couldn't decode attached data."
    unsafe_name,     // "Error, unsafe file name in attached data."
    repeated_name,   // "Error, repeated file name in attached data."
    out_of_memory,   // "Error, couldn't allocate memory."
    internal_limit,  // `what` did not fit
    open,            // "Error, failed to open '<path>' for writing."
    write,           // "Error, couldn't unpack file to target path." with `code`
    stopped,         // a console event stopped the writers; the process is ending
  };
  Kind kind = Kind::none;
  std::uint64_t entry = 0;  // the entry's place in the stream, from 0
  std::string what;
  std::wstring path;
  std::uint32_t code = 0;

  [[nodiscard]] bool failed() const { return kind != Kind::none; }

  static UnpackFailure at(Kind kind, std::uint64_t entry) {
    UnpackFailure failure;
    failure.kind = kind;
    failure.entry = entry;
    return failure;
  }
};

}  // namespace osvari

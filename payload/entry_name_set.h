// The entry names seen so far, folded as Windows compares file names, and with them every folder
// on their paths: what tells that a new name would land on an earlier entry's file or folder.
// The launcher refuses such attached data before writing the entry, and the packing tool refuses
// such inputs.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "payload/entry_name_case.h"

namespace osvari {

enum class EntryNameClashKind {
  same_file,            // the name is an earlier entry's, in the same or another letter case
  named_like_a_folder,  // the name is a folder on an earlier entry's path
  below_a_file,         // a folder on the name's path is an earlier entry's file
};

struct EntryNameClash {
  EntryNameClashKind kind;
  // The earlier entry, counted from 0 in the order names were added: the file, or for
  // named_like_a_folder the first entry below that folder.
  std::size_t earlier;
};

class EntryNameSet {
 public:
  // Adds the next entry's name (backslash separators, UTF-16 code units in any character type)
  // unless it clashes with an earlier one; the clash otherwise, and the set stays as it was.
  // Throws std::bad_alloc when memory runs out.
  template <typename Char>
  std::optional<EntryNameClash> add(std::basic_string_view<Char> name) {
    fold_entry_name(name, folded_);
    return add_folded();
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view name) const { return std::hash<std::u16string_view>{}(name); }
  };
  struct Claim {
    std::size_t entry;  // the file's entry, or the first entry below the folder
    bool is_folder;
  };

  std::optional<EntryNameClash> add_folded();

  std::u16string folded_;  // the name being added, folded; its room serves the next name too
  std::size_t entries_ = 0;
  std::unordered_map<std::u16string, Claim, Hash, std::equal_to<>> claims_;
};

}  // namespace osvari

// Names that Windows takes for one file, found as entries arrive: the same name again (in any
// letter case, by the launcher's folding) or a file named like a folder on another entry's path.
// Packing refuses such inputs, and inspection refuses such attached data before writing anything.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/entry_name_set.h"

namespace osvari::pack {

enum class NameCollisionKind {
  same_name,       // `later` repeats `earlier` exactly
  letter_case,     // `later` repeats `earlier` in another letter case
  file_is_folder,  // one entry's whole name is a folder on the other's path
};

struct NameCollision {
  NameCollisionKind kind;
  std::size_t earlier;  // entries are counted from 0 in the order they were added
  std::size_t later;
  bool earlier_is_the_file = false;  // file_is_folder: which of the two is named like the folder
};

class EntryNameCollisions {
 public:
  // Adds the next entry's name (backslash separators); the collision it makes with an earlier
  // one, if any.
  std::optional<NameCollision> add(std::u16string_view name);
  // The name of an entry added before.
  const std::u16string& name(std::size_t entry) const { return names_[entry]; }

 private:
  std::vector<std::u16string> names_;
  EntryNameSet seen_;
};

}  // namespace osvari::pack

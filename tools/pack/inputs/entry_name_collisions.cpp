#include "tools/pack/inputs/entry_name_collisions.h"

namespace osvari::pack {

std::optional<NameCollision> EntryNameCollisions::add(std::u16string_view name) {
  const std::size_t entry = names_.size();
  names_.emplace_back(name);
  const std::optional<EntryNameClash> clash = seen_.add(name);
  if (!clash) return std::nullopt;
  switch (clash->kind) {
    case EntryNameClashKind::same_file: {
      const bool same = names_[clash->earlier] == name;
      return NameCollision{same ? NameCollisionKind::same_name : NameCollisionKind::letter_case, clash->earlier, entry};
    }
    case EntryNameClashKind::named_like_a_folder:
      return NameCollision{NameCollisionKind::file_is_folder, clash->earlier, entry, false};
    case EntryNameClashKind::below_a_file:
      break;
  }
  return NameCollision{NameCollisionKind::file_is_folder, clash->earlier, entry, true};
}

}  // namespace osvari::pack

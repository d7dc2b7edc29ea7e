#include "tools/pack/inputs/entry_name_collisions.h"

#include "tools/pack/inputs/entry_names.h"

namespace osvari::pack {

std::optional<NameCollision> EntryNameCollisions::add(std::u16string_view name) {
  const std::size_t entry = names_.size();
  names_.emplace_back(name);
  const std::u16string folded = fold_letter_case(name);
  if (const auto found = files_.find(folded); found != files_.end()) {
    const bool same = names_[found->second] == name;
    return NameCollision{same ? NameCollisionKind::same_name : NameCollisionKind::letter_case, found->second, entry};
  }
  if (const auto found = folders_.find(folded); found != folders_.end()) {
    return NameCollision{NameCollisionKind::file_is_folder, found->second, entry, false};
  }
  for (std::size_t end = folded.find(u'\\'); end != std::u16string::npos; end = folded.find(u'\\', end + 1)) {
    if (const auto found = files_.find(folded.substr(0, end)); found != files_.end()) {
      return NameCollision{NameCollisionKind::file_is_folder, found->second, entry, true};
    }
  }
  files_.emplace(folded, entry);
  for (std::size_t end = folded.find(u'\\'); end != std::u16string::npos; end = folded.find(u'\\', end + 1)) {
    folders_.emplace(folded.substr(0, end), entry);
  }
  return std::nullopt;
}

}  // namespace osvari::pack

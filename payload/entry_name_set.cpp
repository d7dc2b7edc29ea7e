#include "payload/entry_name_set.h"

namespace osvari {

std::optional<EntryNameClash> EntryNameSet::add_folded() {
  const std::size_t entry = entries_++;
  const std::u16string_view name(folded_);
  if (const auto found = claims_.find(name); found != claims_.end()) {
    const EntryNameClashKind kind =
        found->second.is_folder ? EntryNameClashKind::named_like_a_folder : EntryNameClashKind::same_file;
    return EntryNameClash{kind, found->second.entry};
  }
  // No added name has a file on its path, and each brought all its folders: the folders of this
  // name are claimed down to some depth and not below it, so one look from the deepest upwards
  // finds a file in the way or the last folder already there.
  std::size_t claimed_end = 0;  // where the deepest folder already claimed ends; 0 for none
  for (std::size_t end = name.rfind(u'\\'); end != std::u16string_view::npos && end > 0;
       end = name.rfind(u'\\', end - 1)) {
    const auto found = claims_.find(name.substr(0, end));
    if (found == claims_.end()) continue;
    if (!found->second.is_folder) return EntryNameClash{EntryNameClashKind::below_a_file, found->second.entry};
    claimed_end = end;
    break;
  }
  claims_.emplace(std::u16string(name), Claim{entry, false});
  for (std::size_t end = name.find(u'\\', claimed_end == 0 ? 0 : claimed_end + 1); end != std::u16string_view::npos;
       end = name.find(u'\\', end + 1)) {
    claims_.emplace(std::u16string(name.substr(0, end)), Claim{entry, true});
  }
  return std::nullopt;
}

}  // namespace osvari

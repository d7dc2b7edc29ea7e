// Which of the two instances this process is: the one the user started (parent) or the one a
// running parent of the same executable started (child).
#pragma once

#include <string>

namespace osvari {

enum class RoleKind { parent, child };

struct Role {
  RoleKind kind = RoleKind::parent;
  // Child role: the accepted value of OSVARI_ONEFILE_PARENT. Empty in the parent role.
  std::wstring parent_process_text;

  [[nodiscard]] bool is_child() const { return kind == RoleKind::child; }
};

}  // namespace osvari

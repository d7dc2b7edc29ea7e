// Deciding the role: a process is the child only when OSVARI_ONEFILE_PARENT names a running
// process of this same executable.
#pragma once

#include <cstddef>

#include "base/role.h"

namespace osvari {

inline constexpr std::size_t parent_path_capacity = 2048;

// True when `text` is a decimal process id (as wcstoul reads it, to the very end) of a running
// process whose executable resolves to the same path as this process's own executable.
// Rejects silently; only the internal limits of resolve_final_path end the run.
bool check_parent_process(const wchar_t* text);

// Child role when OSVARI_ONEFILE_PARENT names a running process of this executable; the
// environment is then left as it is. Otherwise the parent role: a rejected value is removed
// together with OSVARI_ONEFILE_START (an absent or empty one removes nothing), and
// OSVARI_ONEFILE_PARENT is set to this process's id.
Role determine_role();

// The parent role whatever OSVARI_ONEFILE_PARENT holds: for an executable that carries a program,
// which the launcher starts itself, so that no process of it is ever a child. The variable is
// set to this process's id.
Role take_parent_role();

}  // namespace osvari

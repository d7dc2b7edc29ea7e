#include "launcher/cache/cached_run.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/error_reporting.h"
#include "base/shared_state.h"
#include "launcher/cache/cache_folder.h"
#include "launcher/cache/cache_repair.h"
#include "launcher/cache/cached_files.h"
#include "launcher/finish/finished_run_sweep.h"
#include "launcher/finish/fresh_unpack_directory.h"
#include "launcher/finish/made_folder_record.h"
#include "launcher/finish/shutdown.h"
#include "launcher/finish/sweep_while_waiting.h"
#include "launcher/finish/tree_removal.h"
#include "launcher/run/child_environment.h"
#include "launcher/run/child_launch.h"
#include "launcher/run/unpack_progress_window.h"
#include "paths/environment.h"
#include "paths/extended_length_path.h"
#include "paths/known_directories.h"
#include "paths/runtime_spec.h"
#include "paths/unpack_directory_name.h"
#include "payload/attached_data_reader.h"
#include "payload/main_library.h"
#include "payload/unpack.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/runtime.h"

namespace osvari {
namespace {

struct CachePlaces {
  std::wstring root;          // full path of "...\osvari-onefile"
  std::wstring folder_name;   // "<exe name>-<id>"
  std::wstring folder;        // root and folder name
  std::wstring base;          // the executable's name without ".exe"
};

// "C:\..." or "\\server\share\...": a relative value would put the cache below whatever the
// current directory happens to be.
bool is_absolute_path(std::wstring_view path) {
  const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  return drive || path.starts_with(L"\\\\");
}

// LOCALAPPDATA as the environment gives it, so that whoever starts the program (a test, a
// portable setup) can move the cache; the shell's folder otherwise. Windows sets the variable
// to that same folder; Wine's shell folder lookup does not read it.
std::wstring local_application_data() {
  if (const std::optional<std::wstring> value = get_environment_value_narrow("LOCALAPPDATA")) {
    if (is_absolute_path(*value)) return *value;
  }
  UnpackDirectory folder;
  if (!expand_runtime_spec(folder, L"{CACHE_DIR}") || folder.empty()) fatal_expand_error(L"{CACHE_DIR}");
  return std::wstring(folder.view());
}

CachePlaces cache_places(const CacheIndex& index) {
  CachePlaces places;
  std::wstring root = full_path_name(local_application_data().c_str());
  while (root.size() > 3 && root.ends_with(L'\\')) root.pop_back();
  if (!root.ends_with(L'\\')) root += L'\\';
  places.root = root + std::wstring(cache_root_name);
  places.base = executable_base_name(own_module_path().view());
  places.folder_name = cache_folder_name(places.base, index.id);
  places.folder = places.root + L"\\" + places.folder_name;
  return places;
}

std::wstring extended(const std::wstring& path) { return extended_length_path(path); }

bool is_link(const std::wstring& path) {
  const std::optional<std::uint32_t> attributes = file_attributes(extended(path).c_str());
  return attributes && (*attributes & attribute_reparse_point) != 0;
}

[[noreturn]] void refuse_link() { fatal_error("Error, the cache folder is a link or holds one."); }

void use_as_unpack_directory(const std::wstring& path) {
  if (!unpack_directory().assign(path)) fail_internal_limit("the cache folder does not fit in 4096 code units");
}

CacheCheck check(const std::wstring& folder, const CacheIndex& index) {
  return check_cache_folder(extended(folder), index,
                            [](const std::wstring& path, std::vector<DirectoryEntry>& entries) {
                              return list_directory(path, L"*", entries);
                            });
}

// The fill folder, and a repair's, is named as a run's unpack folder, below the cache root, so
// the sweep of finished runs clears away what a killed fill or repair left.
class FillDirectoryOperations final : public SystemFreshDirectoryOperations {
 public:
  explicit FillDirectoryOperations(std::wstring root) : root_(std::move(root)) {}
  bool expand(UnpackDirectory& directory) override {
    const std::optional<std::wstring> start = start_time();
    if (!start) return false;
    return directory.assign(root_ + L"\\" + make_unpack_directory_name(current_process_id(), *start));
  }

 private:
  std::wstring root_;
};

// Creates a fresh folder below the cache root as unpack_directory().
void create_fresh_folder_below(const std::wstring& root) {
  ensure_directory_with_ancestors(root.c_str());
  FillDirectoryOperations operations(root);
  if (!operations.expand(unpack_directory()) ||
      create_fresh_unpack_directory(unpack_directory(), operations) != FreshDirectoryResult::created) {
    fatal_error("Error, couldn't create a fresh unpack directory.");
  }
}

void unpack_planned(const UnpackPlan& plan) {
  std::uint64_t total_bytes = 0;
  for (std::size_t i = 0; i < plan.expected.size(); ++i) {
    if (plan.rewrite == nullptr || (*plan.rewrite)[i]) total_bytes += plan.expected[i].size;
  }
  open_attached_data();
  {
    const ProgressWindowDuringUnpack progress(total_bytes);
    unpack_files(RoleKind::parent, &plan);
    confirm_attached_data_end();
  }
  close_attached_data();
}

UnpackDirectory& repair_folder() {
  static UnpackDirectory folder;
  return folder;
}

void remove_repair_folder() {
  stop_unpacking();
  if (repair_folder().empty()) return;
  remove_unpack_directory(repair_folder(), system_cleanup_operations());
  const std::wstring path = extended(full_path_name(repair_folder().c_str()));
  if (!is_existing_directory(path.c_str())) forget_made_folder(path);
}

// Writes again what the check found missing or wrong. What is wrong goes first, so a repair
// that fails leaves the entry missing, never wrong; the new files are written and sealed in a
// fresh folder and renamed into place only once the frame's checksum has been verified.
// Another run may be repairing the same folder: an entry it has put right since the check is
// neither removed nor written again.
void repair(const CachePlaces& places, const CacheIndex& index, std::vector<bool> rewrite) {
  const std::wstring folder = extended(places.folder);
  CacheRepairOperations& operations = system_cache_repair_operations();
  if (!clear_flagged_entries(folder, index, rewrite, operations)) fatal_error("Error, couldn't use the cache folder.");
  if (std::find(rewrite.begin(), rewrite.end(), true) == rewrite.end()) {
    use_as_unpack_directory(places.folder);
    return;
  }

  create_fresh_folder_below(places.root);
  (void)repair_folder().assign(unpack_directory().view());
  set_action_before_failure_exit(remove_repair_folder);
  mark_and_sweep(std::wstring(repair_folder().view()));
  unpack_planned(UnpackPlan{index.entries, &rewrite});
  const std::wstring repaired = extended(full_path_name(repair_folder().c_str()));
  seal_cached_files(repaired, index, &rewrite);

  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    if (!rewrite[i]) continue;
    const std::wstring& name = index.entries[i].name;
    if (const std::size_t separator = name.find_last_of(L'\\'); separator != std::wstring::npos) {
      ensure_directory_with_ancestors((places.folder + L"\\" + name.substr(0, separator)).c_str());
    }
    if (place_repaired_file(repaired + L"\\" + name, folder + L"\\" + name, index.entries[i].size, operations) ==
        Placed::refused) {
      fatal_error("Error, couldn't use the cache folder.");
    }
  }
  remove_repair_folder();
  set_action_before_failure_exit(nullptr);
  repair_folder().clear();
  use_as_unpack_directory(places.folder);
}

enum class FillResult { placed, another_run_placed_first, run_from_fill };

// Unpacks everything into a fresh sibling of the cache folder, seals it and renames it into
// place. Another run's folder may get there first; this run's fill is then removed. When the
// system keeps refusing the rename, this run runs from its fill, which a later sweep removes.
FillResult fill(const CachePlaces& places, const CacheIndex& index) {
  create_fresh_folder_below(places.root);
  adopt_fresh_unpack_directory();
  sweep_beside(std::wstring(unpack_directory().view()));
  install_console_control_handler();

  unpack_planned(UnpackPlan{index.entries});
  const std::wstring filled = extended(full_path_name(unpack_directory().c_str()));
  seal_cached_files(filled, index);

  switch (move_into_place(filled, extended(places.folder))) {
    case PlaceResult::moved:
      mark_unpack_directory_kept();
      forget_made_folder(filled);
      return FillResult::placed;
    case PlaceResult::occupied:
      remove_own_unpack_directory();
      mark_unpack_directory_kept();
      return FillResult::another_run_placed_first;
    case PlaceResult::refused:
      break;
  }
  // The main library stays loaded in this process until it ends, so nothing removes it here.
  mark_unpack_directory_kept();
  return FillResult::run_from_fill;
}

// Cache folders in use carry a mark, which pruning checks before and while it removes.
void remove_unused_caches(const CachePlaces& places) {
  std::vector<DirectoryEntry> entries;
  const std::wstring root = extended(places.root);
  if (!list_directory(root, (places.base + L"-*").c_str(), entries)) return;
  const std::uint64_t now = system_time_as_file_time();
  for (const DirectoryEntry& entry : entries) {
    if (!is_unused_cache(entry, places.base, places.folder_name, now)) continue;
    const std::wstring mark = cache_in_use_mark_name(entry.name);
    if (named_event_exists(mark.c_str())) continue;
    const std::wstring path = root + L"\\" + entry.name;
    if (!is_owned_by_current_user(path.c_str())) continue;
    (void)remove_tree(path, system_file_tree_operations(), [&mark] { return named_event_exists(mark.c_str()); });
  }
}

// Nothing is left to do once the application ends, since the cache stays: it runs in this
// process, which saves the start of a second one. It sees what a child would: argv[0] is the
// launcher's full path, the rest the user's arguments, and the four variables are set.
int run_in_this_process(const std::wstring& folder, const CacheIndex& index, int argument_count,
                        wchar_t** argument_vector) {
  // The application's runtime may be this process's runtime, whose copy of the environment
  // predates the four variables.
  for (const char* name : {parent_process_variable, start_time_variable, directory_variable_name,
                           original_argv0_variable_name}) {
    copy_to_runtime_environment(widen_variable_name(name).c_str());
  }
  static std::wstring program(own_module_path().view());
  static std::vector<wchar_t*> arguments;
  arguments.assign({program.data()});
  for (int i = 1; i < argument_count; ++i) arguments.push_back(argument_vector[i]);
  arguments.push_back(nullptr);
  set_main_library_path(folder, index.entries.front().name);
  // What killed fills left beside the cache goes while the application runs; the sweep stops
  // when it returns, or leaves through exit().
  static const bool stops_at_exit = std::atexit(stop_sweeps_while_waiting) == 0;
  (void)stops_at_exit;
  const SweepWhileWaiting sweeping;
  return run_main_library(folder.c_str(), static_cast<int>(arguments.size() - 1), arguments.data());
}

// Held for the life of this process and whatever it starts with inherited handles: pruning
// leaves a cache folder alone while its mark exists.
void mark_cache_folder_in_use(const CachePlaces& places) {
  static UniqueHandle mark;
  mark = create_inheritable_named_event(cache_in_use_mark_name(places.folder_name).c_str());
}

void check_and_repair(const CachePlaces& places, const CacheIndex& index) {
  if (is_link(places.folder)) refuse_link();
  const CacheCheck found = check(places.folder, index);
  if (found.refused) refuse_link();
  if (!found.complete()) repair(places, index, found.rewrite);
}

// A packed program is started from the folder as the child; the folder stays when it ends.
int run_program_from(const std::wstring& folder, const CacheIndex& index) {
  set_main_library_path(folder, index.entries.front().name);
  return static_cast<int>(launch_program(main_library_path()));
}

int run_cached_parent(const CacheIndex& index, ApplicationKind kind, int argument_count, wchar_t** argument_vector) {
  const CachePlaces places = cache_places(index);
  if (is_link(places.root) || is_link(places.folder)) refuse_link();
  mark_cache_folder_in_use(places);

  std::wstring run_folder = places.folder;
  if (is_existing_directory(extended(places.folder).c_str())) {
    use_as_unpack_directory(places.folder);
    mark_unpack_directory_kept();
    install_console_control_handler();
    check_and_repair(places, index);
    // Fills killed part way leave folders that nothing else would clear away.
    sweep_at_start({extended(places.root), L""});
  } else {
    switch (fill(places, index)) {
      case FillResult::placed:
        remove_unused_caches(places);
        break;
      case FillResult::another_run_placed_first:
        use_as_unpack_directory(places.folder);
        check_and_repair(places, index);
        break;
      case FillResult::run_from_fill:
        run_folder = std::wstring(unpack_directory().view());
        break;
    }
  }
  // The folder's last-write time tells when the cache was last used.
  (void)set_directory_last_write_time(extended(places.folder).c_str(), system_time_as_file_time());

  set_child_environment(argument_count > 0 ? argument_vector[0] : L"");
  if (kind == ApplicationKind::program) return run_program_from(run_folder, index);
  return run_in_this_process(run_folder, index, argument_count, argument_vector);
}

int run_cached_child(const CacheIndex& index, int argument_count, wchar_t** argument_vector) {
  const CachePlaces places = cache_places(index);
  mark_cache_folder_in_use(places);
  use_as_unpack_directory(places.folder);
  mark_unpack_directory_kept();
  install_console_control_handler();
  set_main_library_path(places.folder, index.entries.front().name);
  return run_main_library(argument_count, argument_vector);
}

}  // namespace

int run_cached(const Role& role, const CacheIndex& index, ApplicationKind kind, int argument_count,
               wchar_t** argument_vector) {
  if (role.is_child()) return run_cached_child(index, argument_count, argument_vector);
  return run_cached_parent(index, kind, argument_count, argument_vector);
}

}  // namespace osvari

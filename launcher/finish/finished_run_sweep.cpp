#include "launcher/finish/finished_run_sweep.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "launcher/finish/made_folder_record.h"
#include "launcher/finish/tree_removal.h"
#include "paths/extended_length_path.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemSweepOperations final : public SweepOperations {
 public:
  explicit SystemSweepOperations(std::function<bool()> stop) : stop_(std::move(stop)) {}

  bool list_candidates(const std::wstring& directory, std::vector<DirectoryEntry>& entries) override {
    return list_directory(directory, unpack_directory_pattern, entries, [this] { return out_of_time(); });
  }
  MadeFolder made_state(const std::wstring& path) override { return recorded_state(path); }
  bool is_marked_in_use(const std::wstring& directory_name) override {
    return named_event_exists(in_use_mark_name(directory_name).c_str());
  }
  std::uint64_t now() override { return system_time_as_file_time(); }
  std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id) override {
    return osvari::running_process_start_time(process_id);
  }
  bool is_owned_by_current_user(const std::wstring& path) override {
    return osvari::is_owned_by_current_user(path.c_str());
  }
  void remove_tree(const std::wstring& path, const std::function<bool()>& out_of_time) override {
    if (osvari::remove_tree(path, system_file_tree_operations(), out_of_time)) forget_made_folder(path);
  }
  void remove_if_empty(const std::wstring& path) override {
    bool settled = false;  // removed, or shown to hold something
    {
      std::wstring final_path;
      const std::unique_ptr<OpenedDirectory> directory = system_file_tree_operations().open_root(path, final_path);
      std::vector<DirectoryEntry> entries;
      const std::optional<std::uint32_t> attributes = directory ? directory->attributes() : std::nullopt;
      if (attributes && (*attributes & attribute_reparse_point) == 0 && (*attributes & attribute_directory) != 0 &&
          directory->list(entries)) {
        settled = !entries.empty() || directory->remove();
      }
    }  // closing the handle removes the directory
    if (settled) forget_made_folder(path);
  }
  bool out_of_time() override { return stop_(); }

 private:
  std::function<bool()> stop_;
};

// Held until the process ends; the system closes it then.
UniqueHandle& in_use_mark() {
  static UniqueHandle mark;
  return mark;
}

struct SweptPlaces {
  std::mutex mutex;
  std::vector<SweepPlace> places;
};

SweptPlaces& swept_places() {
  static SweptPlaces places;
  return places;
}

}  // namespace

std::uint64_t sweep_rotation() { return system_time_as_file_time() / 10'000; }

std::wstring in_use_mark_name(std::wstring_view directory_name) {
  return L"Local\\osvari-in-use-" + std::wstring(directory_name);
}

std::function<bool()> start_up_budget(std::chrono::milliseconds time, int steps_past_time) {
  const auto deadline = std::chrono::steady_clock::now() + time;
  const auto steps_taken = std::make_shared<std::atomic<int>>(0);
  return [deadline, steps_taken, steps_past_time] {
    if (std::chrono::steady_clock::now() < deadline) return false;
    return steps_taken->fetch_add(1) >= steps_past_time;
  };
}

std::unique_ptr<SweepOperations> make_system_sweep_operations() {
  return make_system_sweep_operations(
      start_up_budget(std::chrono::milliseconds(sweep_milliseconds), sweep_steps_past_time));
}

std::unique_ptr<SweepOperations> make_system_sweep_operations(std::function<bool()> stop) {
  return std::make_unique<SystemSweepOperations>(std::move(stop));
}

bool is_run_over(const std::wstring& directory_name, const UnpackDirectoryName& name, SweepOperations& system) {
  if (system.is_marked_in_use(directory_name) || name.time_stamp > system.now()) return false;
  const std::optional<std::uint64_t> started = system.running_process_start_time(name.process_id);
  // A process that started after the directory was named only reuses the id of its maker.
  return !started || *started > name.time_stamp;
}

std::vector<std::wstring> sweep_finished_runs(const std::wstring& directory, std::wstring_view own_name,
                                              SweepOperations& system, int removal_limit, std::uint64_t rotation) {
  std::vector<std::wstring> swept;
  std::vector<DirectoryEntry> entries;
  if (!system.list_candidates(directory, entries) || entries.empty()) return swept;
  const std::function<bool()> out_of_time = [&system] { return system.out_of_time(); };
  const std::size_t first = rotation % entries.size();
  for (std::size_t step = 0; step < entries.size(); ++step) {
    const DirectoryEntry& entry = entries[(first + step) % entries.size()];
    if (static_cast<int>(swept.size()) >= removal_limit || system.out_of_time()) break;
    if ((entry.attributes & attribute_directory) == 0 || (entry.attributes & attribute_reparse_point) != 0 ||
        entry.name == own_name) {
      continue;
    }
    const std::optional<UnpackDirectoryName> name = parse_unpack_directory_name(entry.name);
    if (!name) continue;
    const std::wstring path = directory + L"\\" + entry.name;
    const MadeFolder made = system.made_state(path);
    if (made == MadeFolder::not_recorded || !is_run_over(entry.name, *name, system)) continue;
    if (!system.is_owned_by_current_user(path)) continue;
    swept.push_back(entry.name);
    if (made == MadeFolder::made) {
      system.remove_tree(path, out_of_time);
    } else {
      system.remove_if_empty(path);
    }
  }
  return swept;
}

SweepPlace place_beside(const std::wstring& unpack_directory) {
  const std::size_t separator = unpack_directory.find_last_of(L'\\');
  if (separator == std::wstring::npos) return {};
  // With its backslash, so that a directory at the root of a drive stays the root.
  std::wstring directory = extended_length_path(full_path_name(unpack_directory.substr(0, separator + 1).c_str()));
  while (directory.ends_with(L'\\')) directory.pop_back();
  return {std::move(directory), unpack_directory.substr(separator + 1)};
}

std::vector<SweepPlace> places_swept_at_start() {
  SweptPlaces& swept = swept_places();
  const std::lock_guard lock(swept.mutex);
  return swept.places;
}

void sweep_at_start(const SweepPlace& place) {
  if (place.directory.empty()) return;
  {
    SweptPlaces& swept = swept_places();
    const std::lock_guard lock(swept.mutex);
    bool known = false;
    for (const SweepPlace& noted : swept.places) known = known || noted.directory == place.directory;
    if (!known) swept.places.push_back(place);
  }
  const std::unique_ptr<SweepOperations> system = make_system_sweep_operations();
  const std::uint64_t rotation = sweep_rotation();
  (void)sweep_finished_runs(place.directory, place.own_name, *system, sweep_removal_limit, rotation);
  (void)drop_stale_records(system_record_operations(), record_check_limit, rotation,
                           [&system] { return system->out_of_time(); });
}

void mark_in_use(const std::wstring& unpack_directory) {
  const std::size_t separator = unpack_directory.find_last_of(L'\\');
  if (separator == std::wstring::npos) return;
  record_made_folder(extended_length_path(full_path_name(unpack_directory.c_str())));
  in_use_mark() = create_inheritable_named_event(in_use_mark_name(unpack_directory.substr(separator + 1)).c_str());
}

void sweep_beside(const std::wstring& unpack_directory) { sweep_at_start(place_beside(unpack_directory)); }

void mark_and_sweep(const std::wstring& unpack_directory) {
  mark_in_use(unpack_directory);
  sweep_beside(unpack_directory);
}

}  // namespace osvari

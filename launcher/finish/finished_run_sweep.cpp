#include "launcher/finish/finished_run_sweep.h"

#include <chrono>
#include <memory>

#include "launcher/finish/made_folder_record.h"
#include "launcher/finish/tree_removal.h"
#include "paths/extended_length_path.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemSweepOperations final : public SweepOperations {
 public:
  bool list_candidates(const std::wstring& directory, std::vector<DirectoryEntry>& entries) override {
    return list_directory(directory, unpack_directory_pattern, entries, [this] { return out_of_time(); });
  }
  bool is_made_by_this_launcher(const std::wstring& path) override { return is_recorded_made_folder(path); }
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
  bool out_of_time() override { return std::chrono::steady_clock::now() >= deadline_; }

 private:
  std::chrono::steady_clock::time_point deadline_ =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(sweep_milliseconds);
};

// Held until the process ends; the system closes it then.
UniqueHandle& in_use_mark() {
  static UniqueHandle mark;
  return mark;
}

}  // namespace

std::wstring in_use_mark_name(std::wstring_view directory_name) {
  return L"Local\\osvari-in-use-" + std::wstring(directory_name);
}

std::unique_ptr<SweepOperations> make_system_sweep_operations() { return std::make_unique<SystemSweepOperations>(); }

bool is_run_over(const std::wstring& directory_name, const UnpackDirectoryName& name, SweepOperations& system) {
  if (system.is_marked_in_use(directory_name) || name.time_stamp > system.now()) return false;
  const std::optional<std::uint64_t> started = system.running_process_start_time(name.process_id);
  // A process that started after the directory was named only reuses the id of its maker.
  return !started || *started > name.time_stamp;
}

std::vector<std::wstring> sweep_finished_runs(const std::wstring& temp_directory, std::wstring_view own_name,
                                              SweepOperations& system) {
  std::vector<std::wstring> swept;
  std::vector<DirectoryEntry> entries;
  if (!system.list_candidates(temp_directory, entries)) return swept;
  const std::function<bool()> out_of_time = [&system] { return system.out_of_time(); };
  for (const DirectoryEntry& entry : entries) {
    if (static_cast<int>(swept.size()) >= sweep_removal_limit || system.out_of_time()) break;
    if ((entry.attributes & attribute_directory) == 0 || (entry.attributes & attribute_reparse_point) != 0 ||
        entry.name == own_name) {
      continue;
    }
    const std::optional<UnpackDirectoryName> name = parse_unpack_directory_name(entry.name);
    if (!name) continue;
    const std::wstring path = temp_directory + L"\\" + entry.name;
    if (!system.is_made_by_this_launcher(path) || !is_run_over(entry.name, *name, system)) continue;
    if (!system.is_owned_by_current_user(path)) continue;
    swept.push_back(entry.name);
    system.remove_tree(path, out_of_time);
  }
  return swept;
}

void mark_in_use(const std::wstring& unpack_directory) {
  const std::size_t separator = unpack_directory.find_last_of(L'\\');
  if (separator == std::wstring::npos) return;
  record_made_folder(extended_length_path(full_path_name(unpack_directory.c_str())));
  in_use_mark() = create_inheritable_named_event(in_use_mark_name(unpack_directory.substr(separator + 1)).c_str());
}

void sweep_beside(const std::wstring& unpack_directory) {
  const std::size_t separator = unpack_directory.find_last_of(L'\\');
  if (separator == std::wstring::npos) return;
  const std::wstring own_name = unpack_directory.substr(separator + 1);
  // With its backslash, so that a directory at the root of a drive stays the root.
  std::wstring temp_directory = extended_length_path(full_path_name(unpack_directory.substr(0, separator + 1).c_str()));
  while (temp_directory.ends_with(L'\\')) temp_directory.pop_back();
  const std::unique_ptr<SweepOperations> system = make_system_sweep_operations();
  (void)sweep_finished_runs(temp_directory, own_name, *system);
}

void mark_and_sweep(const std::wstring& unpack_directory) {
  mark_in_use(unpack_directory);
  sweep_beside(unpack_directory);
}

}  // namespace osvari

#include "tools/pack/output_files/extraction_folder.h"

#include <string>
#include <vector>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

std::vector<std::u16string> split_entry_name(std::u16string_view name) {
  std::vector<std::u16string> components(1);
  for (char16_t unit : name) {
    if (unit == u'\\' || unit == u'/') {
      components.emplace_back();
    } else {
      components.back().push_back(unit);
    }
  }
  return components;
}

std::string joined(const fs::path& directory, const std::vector<std::u16string>& components, std::size_t count) {
  std::string text = display_path(directory);
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back('/');
    text.append(utf16_to_utf8(components[i]));
  }
  return text;
}

// Where a file is written until it is complete. A name that is taken (a left-over, a link
// someone planted) is passed over, never opened or removed.
fs::path temporary_name(std::uint32_t attempt) { return ".osvari-extract-" + std::to_string(attempt) + ".partial"; }
constexpr std::uint32_t temporary_name_attempts = 100;

std::string with_reason(const std::string& what, const std::string& problem) {
  return problem.empty() ? what : what + ": " + problem;
}

}  // namespace

struct ExtractionFolder::State {
  fs::path root_path;
  std::unique_ptr<HeldFolder> root;
  // The folders on the way to the current entry, outermost first, each held while its file is made.
  std::vector<std::unique_ptr<HeldFolder>> way;
  std::unique_ptr<HeldFile> file;
  fs::path temporary;
  fs::path target;
  std::string target_text;
  std::uint32_t next_temporary = 0;

  HeldFolder& folder() { return way.empty() ? *root : *way.back(); }
  void abandon_file() {
    if (file) folder().discard(std::move(file), temporary);
  }
};

namespace {

std::unique_ptr<HeldFolder> made_and_held(const fs::path& directory) {
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) fail_bad_input("cannot create " + display_path(directory) + ": " + error.message());
  FolderStep held = hold_folder(directory);
  if (!held.folder) fail_bad_input("cannot open " + display_path(directory) + ": " + held.problem);
  return std::move(held.folder);
}

}  // namespace

ExtractionFolder::ExtractionFolder(const fs::path& directory) : ExtractionFolder(directory, made_and_held(directory)) {}

ExtractionFolder::ExtractionFolder(const fs::path& directory, std::unique_ptr<HeldFolder> root)
    : state_(std::make_unique<State>()) {
  state_->root_path = directory;
  state_->root = std::move(root);
}

ExtractionFolder::~ExtractionFolder() { state_->abandon_file(); }

void ExtractionFolder::begin(std::u16string_view name) {
  const std::vector<std::u16string> components = split_entry_name(name);
  state_->abandon_file();
  state_->way.clear();
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    HeldFolder& parent = state_->folder();
    const fs::path component = component_name(components[i]);
    FolderStep step = parent.open_folder(component);
    if (step.outcome == StepOutcome::missing) {
      step = parent.make_folder(component);
      // Made by someone else since: what is there now is opened as itself, like any other.
      if (step.outcome == StepOutcome::exists) step = parent.open_folder(component);
    }
    const std::string path = joined(state_->root_path, components, i + 1);
    switch (step.outcome) {
      case StepOutcome::done:
        state_->way.push_back(std::move(step.folder));
        continue;
      case StepOutcome::link:
        fail_bad_input("refusing to write through " + path + ": it is a link, which could lead outside the folder");
      case StepOutcome::not_a_folder:
        fail_bad_input("cannot create a folder where the file " + path + " is");
      case StepOutcome::missing:
      case StepOutcome::exists:
      case StepOutcome::failed:
        break;
    }
    fail_bad_input(with_reason("cannot create " + path, step.problem));
  }
  state_->target = component_name(components.back());
  state_->target_text = joined(state_->root_path, components, components.size());
  for (std::uint32_t attempt = 0; attempt < temporary_name_attempts; ++attempt) {
    state_->temporary = temporary_name(state_->next_temporary++);
    FileStep step = state_->folder().create_file(state_->temporary);
    if (step.outcome == StepOutcome::done) {
      state_->file = std::move(step.file);
      return;
    }
    if (step.outcome != StepOutcome::exists) {
      fail_bad_input(with_reason("cannot create a file beside " + state_->target_text, step.problem));
    }
  }
  fail_bad_input("cannot create a file beside " + state_->target_text + ": every temporary name is taken");
}

void ExtractionFolder::write(std::string_view bytes) {
  std::string problem;
  if (!state_->file->write(bytes, problem)) {
    state_->abandon_file();
    fail_bad_input(with_reason("cannot write " + state_->target_text, problem));
  }
}

void ExtractionFolder::finish() {
  std::string problem;
  if (!state_->folder().put_in_place(std::move(state_->file), state_->temporary, state_->target, problem)) {
    fail_bad_input(with_reason("cannot write " + state_->target_text, problem));
  }
}

}  // namespace osvari::pack

// A held folder of the packing tool that runs a test's hook before each step it takes, and
// before each step of the folders and files opened through it: a scripted neighbour acts between
// any two steps of an extraction.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tools/pack/output_files/held_folder.h"

namespace osvari::testing {

using StepHook = std::function<void()>;

class HookedHeldFile final : public pack::HeldFile {
 public:
  HookedHeldFile(std::unique_ptr<pack::HeldFile> inner, StepHook hook)
      : inner_(std::move(inner)), hook_(std::move(hook)) {}
  bool write(std::string_view bytes, std::string& problem) override {
    hook_();
    return inner_->write(bytes, problem);
  }
  void allow_execution() override {
    hook_();
    inner_->allow_execution();
  }
  std::unique_ptr<pack::HeldFile> release() { return std::move(inner_); }

 private:
  std::unique_ptr<pack::HeldFile> inner_;
  StepHook hook_;
};

class HookedHeldFolder final : public pack::HeldFolder {
 public:
  HookedHeldFolder(std::unique_ptr<pack::HeldFolder> inner, StepHook hook)
      : inner_(std::move(inner)), hook_(std::move(hook)) {}

  pack::FolderStep open_folder(const std::filesystem::path& name) override {
    hook_();
    return wrapped(inner_->open_folder(name));
  }
  pack::FolderStep make_folder(const std::filesystem::path& name) override {
    hook_();
    return wrapped(inner_->make_folder(name));
  }
  pack::FileStep create_file(const std::filesystem::path& name) override {
    hook_();
    pack::FileStep step = inner_->create_file(name);
    if (step.file) step.file = std::make_unique<HookedHeldFile>(std::move(step.file), hook_);
    return step;
  }
  bool put_in_place(std::unique_ptr<pack::HeldFile> file, const std::filesystem::path& temporary_name,
                    const std::filesystem::path& name, std::string& problem) override {
    hook_();
    return inner_->put_in_place(static_cast<HookedHeldFile&>(*file).release(), temporary_name, name, problem);
  }
  void discard(std::unique_ptr<pack::HeldFile> file, const std::filesystem::path& temporary_name) override {
    inner_->discard(static_cast<HookedHeldFile&>(*file).release(), temporary_name);
  }

 private:
  pack::FolderStep wrapped(pack::FolderStep step) {
    if (step.folder) step.folder = std::make_unique<HookedHeldFolder>(std::move(step.folder), hook_);
    return step;
  }

  std::unique_ptr<pack::HeldFolder> inner_;
  StepHook hook_;
};

}  // namespace osvari::testing

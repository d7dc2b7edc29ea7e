// A place for tests that delete: a sacrificial current directory, a work folder for the tree
// under test and a folder outside it for link targets, each holding canary files that a
// removal gone wrong would take with it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temporary_directory.h"

namespace osvari::testing {

class SacrificialArea {
 public:
  // Creates the folders with their canaries and makes the current directory the sacrificial one.
  SacrificialArea();
  // Restores the previous current directory.
  ~SacrificialArea();
  SacrificialArea(const SacrificialArea&) = delete;
  SacrificialArea& operator=(const SacrificialArea&) = delete;

  [[nodiscard]] std::filesystem::path work() const { return root_.path() / L"work"; }
  [[nodiscard]] std::filesystem::path outside() const { return root_.path() / L"outside"; }
  [[nodiscard]] std::filesystem::path current() const { return root_.path() / L"current"; }

  // Adds a canary file (and its folders) at `path`.
  void add_canary(const std::filesystem::path& path);
  // The canaries that are gone or changed; empty when all is well.
  [[nodiscard]] std::vector<std::wstring> harmed_canaries() const;

 private:
  TemporaryDirectory root_;
  std::wstring previous_current_directory_;
  std::vector<std::filesystem::path> canaries_;
};

}  // namespace osvari::testing

// Writes entries below one folder and nowhere else: names are split at '\' and '/' (as Windows
// reads them), every folder on the way is held open as itself while its file is made (a link met
// on the way is never followed), and each file appears complete under its name.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "tools/pack/output_files/held_folder.h"

namespace osvari::pack {

class ExtractionFolder {
 public:
  // Creates `directory` when missing. Throws PackError (bad input) when it cannot.
  explicit ExtractionFolder(const std::filesystem::path& directory);
  // Extraction below `root`, held already; `directory` names it in messages.
  ExtractionFolder(const std::filesystem::path& directory, std::unique_ptr<HeldFolder> root);
  ~ExtractionFolder();
  ExtractionFolder(const ExtractionFolder&) = delete;
  ExtractionFolder& operator=(const ExtractionFolder&) = delete;

  // Starts the file of entry `name`, making its folders. The caller has checked the name with
  // entry_name_problem. Throws PackError when a folder on the way is a link or a file.
  void begin(std::u16string_view name);
  void write(std::string_view bytes);
  // Puts the finished file in place, replacing a file (or link) of that name.
  void finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace osvari::pack

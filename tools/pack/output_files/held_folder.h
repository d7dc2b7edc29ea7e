// Folders held open as themselves, and the files made in them: every folder and file is opened,
// made, renamed or removed relative to a folder this process holds, never by a path someone could
// change between two steps, so that what is made through a held folder lands in that folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace osvari::pack {

// A file made anew inside a held folder, open for writing.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // Writes all of `bytes`; false, with the reason in `problem`, when the system does not take them.
  virtual bool write(std::string_view bytes, std::string& problem) = 0;
  // Lets whoever may read the file run it, through the open file. A file system that keeps no
  // such bit (or refuses to change it) leaves it as it is: Windows never looks at it.
  virtual void allow_execution() = 0;
};

enum class StepOutcome {
  done,
  missing,       // nothing has the name
  exists,        // something has the name already
  link,          // the name is a link (symbolic link or junction), which is never entered
  not_a_folder,  // the name is a file
  failed,        // for another reason, given in `problem`
};

class HeldFolder;

struct FolderStep {
  StepOutcome outcome = StepOutcome::failed;
  std::unique_ptr<HeldFolder> folder;  // when done
  std::string problem;
};

struct FileStep {
  StepOutcome outcome = StepOutcome::failed;
  std::unique_ptr<HeldFile> file;  // when done
  std::string problem;
};

// Names are single components.
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
  // The folder `name` inside this one, opened and held as itself: done, missing, link,
  // not_a_folder or failed.
  virtual FolderStep open_folder(const std::filesystem::path& name) = 0;
  // Makes the folder `name` inside this one and holds it: done, exists or failed.
  virtual FolderStep make_folder(const std::filesystem::path& name) = 0;
  // Makes the file `name` inside this one, only where nothing (not even a link) has the name:
  // done, exists or failed.
  virtual FileStep create_file(const std::filesystem::path& name) = 0;
  // Closes `file`, made here as `temporary_name`, and renames it to `name` in this folder,
  // replacing a file or a link of that name (never what the link leads to). What someone put at
  // the temporary name in the file's place is neither renamed nor removed. On failure the file
  // is removed and `problem` tells why.
  virtual bool put_in_place(std::unique_ptr<HeldFile> file, const std::filesystem::path& temporary_name,
                            const std::filesystem::path& name, std::string& problem) = 0;
  // Closes and removes `file`, made here as `temporary_name`.
  virtual void discard(std::unique_ptr<HeldFile> file, const std::filesystem::path& temporary_name) = 0;
};

// The existing folder `directory`, held: done, or failed with the reason. The way to it is the
// caller's to choose, links included.
FolderStep hold_folder(const std::filesystem::path& directory);

// One component of an entry name as a name in a folder of this system.
std::filesystem::path component_name(std::u16string_view component);

}  // namespace osvari::pack

// Extraction while a neighbour swaps a folder for a link between any two of its steps: every
// folder is held while its files are made and everything is made relative to it, so nothing is
// ever written through the link, whichever step the swap comes before.
#include "tools/pack/output_files/extraction_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/hooked_held_folder.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tools/pack/pack_error.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::u16string name;
  std::string contents;
};

const std::vector<Entry> entries = {
    {u"app.dll", "library"}, {u"nested\\a.txt", "first"}, {u"nested\\deeper\\b.txt", "second"}, {u"c.txt", "third"}};

std::unique_ptr<pack::HeldFolder> held(const fs::path& directory) {
  pack::FolderStep step = pack::hold_folder(directory);
  EXPECT_TRUE(step.folder) << step.problem;
  return std::move(step.folder);
}

// Extracts every entry below `directory` through `root`; the error, or empty when all went well.
std::string extract(const fs::path& directory, std::unique_ptr<pack::HeldFolder> root) {
  try {
    pack::ExtractionFolder folder(directory, std::move(root));
    for (const Entry& entry : entries) {
      folder.begin(entry.name);
      folder.write(entry.contents);
      folder.finish();
    }
  } catch (const pack::PackError& error) {
    return error.what();
  }
  return {};
}

// Everything below `folder`, links not followed, as "path: contents" and "path -> link".
std::vector<std::string> tree_of(const fs::path& folder) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), folder).string();
    if (it->is_symlink()) {
      found.push_back(relative + " -> link");
    } else if (it->is_regular_file()) {
      found.push_back(relative + ": " + read_file(it->path()));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(ExtractionFolder, AFolderSwappedForALinkAtAnyStepIsNeverWrittenThrough) {
  // The steps of an undisturbed extraction.
  std::size_t steps = 0;
  {
    TemporaryFolder folder;
    fs::create_directories(folder / "extracted");
    ASSERT_EQ(extract(folder / "extracted",
                      std::make_unique<HookedHeldFolder>(held(folder / "extracted"), [&] { ++steps; })),
              "");
    ASSERT_GE(steps, 14u);
  }
  for (const char* swapped : {"extracted", "extracted/nested", "extracted/nested/deeper"}) {
    for (std::size_t swap_before = 0; swap_before < steps; ++swap_before) {
      SCOPED_TRACE(std::string(swapped) + " before step " + std::to_string(swap_before));
      TemporaryFolder folder;
      write_file(folder / "outside/canary.txt", "canary");
      const std::vector<std::string> outside_before = tree_of(folder / "outside");
      fs::create_directories(folder / "extracted");
      std::size_t step = 0;
      bool swap_made = false;
      // The folder goes aside (where it exists yet) and a link to the outside takes its name.
      const auto neighbour = [&] {
        if (step++ != swap_before) return;
        std::error_code error;
        const fs::path at = folder / swapped;
        fs::create_directories(at.parent_path(), error);
        if (fs::exists(at)) fs::rename(at, fs::path(at) += ".moved", error);
        fs::create_directory_symlink(folder / "outside", at, error);
        swap_made = !error;
      };
      const std::string error = extract(
          folder / "extracted", std::make_unique<HookedHeldFolder>(held(folder / "extracted"), neighbour));

      EXPECT_TRUE(swap_made) << "the neighbour could not act";
      EXPECT_EQ(tree_of(folder / "outside"), outside_before) << error;
      if (!error.empty()) {
        EXPECT_NE(error.find("it is a link"), std::string::npos) << error;
        continue;
      }
      // Every file was made in the folder that was held, wherever the neighbour moved it.
      std::vector<std::string> files;
      for (const std::string& item : tree_of(folder.path())) {
        if (item.find("-> link") == std::string::npos && !item.starts_with("outside/")) files.push_back(item);
      }
      EXPECT_EQ(files.size(), entries.size()) << ::testing::PrintToString(files);
    }
  }
}

// Without a neighbour, each file is in its place and nothing else is left.
TEST(ExtractionFolder, WritesEveryEntryInItsPlace) {
  TemporaryFolder folder;
  fs::create_directories(folder / "extracted");
  ASSERT_EQ(extract(folder / "extracted", held(folder / "extracted")), "");
  EXPECT_EQ(tree_of(folder / "extracted"),
            (std::vector<std::string>{"app.dll: library", "c.txt: third", "nested/a.txt: first",
                                      "nested/deeper/b.txt: second"}));
}

}  // namespace
}  // namespace osvari::testing

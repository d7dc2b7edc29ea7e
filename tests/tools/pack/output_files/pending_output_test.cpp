// An output file written beside its target: whatever already has the temporary name (another's
// file, a link to one, a dangling link) is never written through, changed or removed.
#include "tools/pack/output_files/pending_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "tests/support/hooked_held_folder.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tools/pack/pack_error.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

fs::path first_temporary(const fs::path& target) {
  fs::path name = target;
  name += ".osvari-pack-partial";
  return name;
}

struct PlantedCase {
  const char* name;
  // Plants something at `at`; `canary` is a file outside the output's folder that must stay as it is.
  std::function<void(const fs::path& at, const fs::path& canary)> plant;
};

class PlantedAtTheTemporaryName : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedAtTheTemporaryName, IsLeftAsItIsWhileTheOutputIsWrittenBesideIt) {
  TemporaryFolder folder;
  const fs::path canary = folder / "outside/canary.txt";
  write_file(canary, "canary");
  const fs::path target = folder / "out/app.bin";
  fs::create_directories(target.parent_path());
  const fs::path planted = first_temporary(target);
  GetParam().plant(planted, canary);
  const auto before = fs::symlink_status(planted).type();
  const fs::path pointed_to = fs::is_symlink(planted) ? fs::read_symlink(planted) : fs::path();

  {
    pack::PendingOutput output(target);
    EXPECT_NE(output.temporary_path(), planted);
    output.write("the packed bytes");
    output.commit();
  }

  EXPECT_EQ(read_file(target), "the packed bytes");
  EXPECT_EQ(read_file(canary), "canary");
  EXPECT_EQ(fs::symlink_status(planted).type(), before);
  if (fs::is_symlink(planted)) {
    EXPECT_EQ(fs::read_symlink(planted), pointed_to);
  }
  EXPECT_FALSE(fs::exists(folder / "outside/never.txt"));  // a dangling link's target is never made
  // Only the target and what was planted remain beside it.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(target.parent_path())) ++entries;
  EXPECT_EQ(entries, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Things, PlantedAtTheTemporaryName,
    ::testing::Values(
        PlantedCase{"link_to_another_file",
                    [](const fs::path& at, const fs::path& canary) { fs::create_symlink(canary, at); }},
        PlantedCase{"dangling_link",
                    [](const fs::path& at, const fs::path& canary) {
                      fs::create_symlink(canary.parent_path() / "never.txt", at);
                    }},
        PlantedCase{"another_programs_file",
                    [](const fs::path& at, const fs::path&) { write_file(at, "someone else's"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PendingOutput, AnotherProgramsFileAtTheTemporaryNameKeepsItsContents) {
  TemporaryFolder folder;
  const fs::path target = folder / "app.bin";
  write_file(first_temporary(target), "someone else's");
  {
    pack::PendingOutput output(target);
    output.write("ours");
    output.commit();
  }
  EXPECT_EQ(read_file(first_temporary(target)), "someone else's");
  EXPECT_EQ(read_file(target), "ours");
}

TEST(PendingOutput, AnUnfinishedOutputRemovesOnlyItsOwnTemporaryFile) {
  TemporaryFolder folder;
  const fs::path target = folder / "app.bin";
  write_file(first_temporary(target), "someone else's");
  fs::path temporary;
  {
    pack::PendingOutput output(target);
    temporary = output.temporary_path();
    output.write("half");
    EXPECT_TRUE(fs::exists(temporary));
  }
  EXPECT_FALSE(fs::exists(temporary));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(read_file(first_temporary(target)), "someone else's");
}

TEST(PendingOutput, ALinkAtTheTargetIsReplacedNotWrittenThrough) {
  TemporaryFolder folder;
  const fs::path canary = folder / "outside/canary.txt";
  write_file(canary, "canary");
  const fs::path target = folder / "app.bin";
  fs::create_symlink(canary, target);
  {
    pack::PendingOutput output(target);
    output.write("ours");
    output.commit();
  }
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(read_file(target), "ours");
  EXPECT_EQ(read_file(canary), "canary");
}

// A neighbour acts between two steps of an output: after it is written, before it is made
// executable, or before it is renamed into place. What it puts at a name is never written
// through (contents and permissions of what a link leads to stay), and a link at the temporary
// name is never taken for the output, nor removed.
enum class Planted { link_at_the_temporary_name, link_at_the_output_name };

struct BetweenStepsCase {
  const char* name;
  Planted planted;
  std::size_t before_step;  // 1 write, 2 allow_execution, 3 put_in_place
};

class LinkPlacedBetweenSteps : public ::testing::TestWithParam<BetweenStepsCase> {};

TEST_P(LinkPlacedBetweenSteps, IsNeitherFollowedNorTakenForTheOutput) {
  TemporaryFolder folder;
  const fs::path canary = folder / "outside/canary.txt";
  write_file(canary, "canary");
  fs::permissions(canary, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::perms canary_permissions = fs::status(canary).permissions();
  const fs::path target = folder / "out/app.exe";
  fs::create_directories(target.parent_path());
  const fs::path temporary = first_temporary(target);

  std::size_t step = 0;
  const auto neighbour = [&] {
    if (step++ != GetParam().before_step) return;
    if (GetParam().planted == Planted::link_at_the_temporary_name) {
      fs::rename(temporary, folder / "out/moved-away");
      fs::create_symlink(canary, temporary);
    } else {
      fs::create_symlink(canary, target);
    }
  };
  pack::FolderStep held = pack::hold_folder(target.parent_path());
  ASSERT_TRUE(held.folder) << held.problem;
  std::string error;
  try {
    pack::PendingOutput output(target, std::make_unique<HookedHeldFolder>(std::move(held.folder), neighbour));
    output.write("the program");
    output.allow_execution();
    output.commit();
  } catch (const pack::PackError& failure) {
    error = failure.what();
  }

  EXPECT_GT(step, GetParam().before_step) << "the neighbour never acted";
  EXPECT_EQ(read_file(canary), "canary");
  EXPECT_EQ(fs::status(canary).permissions(), canary_permissions) << "the link was followed";
  if (GetParam().planted == Planted::link_at_the_temporary_name) {
    EXPECT_NE(error.find("was moved or replaced"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_symlink(temporary)) << "the link at the temporary name was removed or moved";
    EXPECT_EQ(fs::read_symlink(temporary), canary);
    EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << "something was taken for the output";
  } else {
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(read_file(target), "the program");
    EXPECT_NE(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::none);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LinkPlacedBetweenSteps,
    ::testing::Values(BetweenStepsCase{"at_the_temporary_name_before_writing", Planted::link_at_the_temporary_name, 1},
                      BetweenStepsCase{"at_the_temporary_name_before_the_executable_bit",
                                       Planted::link_at_the_temporary_name, 2},
                      BetweenStepsCase{"at_the_temporary_name_before_the_rename", Planted::link_at_the_temporary_name,
                                       3},
                      BetweenStepsCase{"at_the_output_name_before_the_executable_bit", Planted::link_at_the_output_name,
                                       2},
                      BetweenStepsCase{"at_the_output_name_before_the_rename", Planted::link_at_the_output_name, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Those who may read the output may run it; the others may not.
TEST(PendingOutput, GivesTheExecuteBitToThoseWhoMayRead) {
  TemporaryFolder folder;
  const fs::path target = folder / "app.exe";
  {
    pack::PendingOutput output(target);
    output.write("ours");
    output.allow_execution();
    output.commit();
  }
  const fs::perms permissions = fs::status(target).permissions();
  for (const auto& [read, execute] : {std::pair{fs::perms::owner_read, fs::perms::owner_exec},
                                      std::pair{fs::perms::group_read, fs::perms::group_exec},
                                      std::pair{fs::perms::others_read, fs::perms::others_exec}}) {
    EXPECT_EQ((permissions & read) != fs::perms::none, (permissions & execute) != fs::perms::none);
  }
  EXPECT_NE(permissions & fs::perms::owner_exec, fs::perms::none);
}

TEST(PendingOutput, AMissingFolderIsReportedWithTheTarget) {
  TemporaryFolder folder;
  const fs::path target = folder / "no/such/folder/app.bin";
  try {
    pack::PendingOutput output(target);
    FAIL() << "created " << output.temporary_path();
  } catch (const pack::PackError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot create "), std::string::npos) << error.what();
  }
  EXPECT_FALSE(fs::exists(folder / "no"));
}

}  // namespace
}  // namespace osvari::testing

// Icon files turned into icon resources, and files that are no icon file.
#include "tools/pack/executable_resources/icon_file.h"

#include <gtest/gtest.h>

#include "tests/tools/pack/support/icon_builder.h"
#include "tests/tools/pack/support/pe_image_builder.h"
#include "tools/pack/pe/pe_resources.h"

namespace osvari::pack {
namespace {

TEST(IconFile, MakesOneGroupNamingEachImage) {
  const std::string file = testing::build_icon_file({{16, "first image"}, {32, "second, larger image"}});
  const IconResources icon = read_icon_file(file);
  ASSERT_EQ(icon.images.size(), 2u);
  EXPECT_EQ(icon.images[0], "first image");
  EXPECT_EQ(icon.images[1], "second, larger image");
  // The file's six-byte header, then per image its first 12 entry bytes and the id.
  ASSERT_EQ(icon.group.size(), 6u + 2 * 14);
  EXPECT_EQ(icon.group.substr(0, 6), file.substr(0, 6));
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(icon.group.substr(6 + 14 * i, 12), file.substr(6 + 16 * i, 12));
    EXPECT_EQ(icon.group[6 + 14 * i + 12], static_cast<char>(i + 1));
    EXPECT_EQ(icon.group[6 + 14 * i + 13], 0);
  }
}

TEST(IconFile, RefusesWhatIsNoIconFile) {
  const std::string good = testing::build_icon_file({{16, "pixels"}});
  const struct {
    const char* description;
    std::string file;
    const char* message;
  } cases[] = {
      {"empty", "", "is not an icon file"},
      {"a cursor file",
       [&] {
         std::string f = good;
         f[2] = 2;
         return f;
       }(),
       "is not an icon file"},
      {"a PNG", "\x89PNG\r\n\x1A\n", "is not an icon file"},
      {"no images", std::string("\0\0\1\0\0\0", 6), "without images"},
      {"cut inside the directory", good.substr(0, 12), "cut short"},
      {"cut inside an image", good.substr(0, good.size() - 1), "image 1 lies beyond"},
      {"an image of no bytes",
       [&] {
         std::string f = good;
         testing::put_u32(f, 6 + 8, 0);
         return f;
       }(),
       "image 1 lies beyond"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    try {
      read_icon_file(test.file);
      ADD_FAILURE() << "accepted";
    } catch (const ImageFormatError& error) {
      EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace osvari::pack

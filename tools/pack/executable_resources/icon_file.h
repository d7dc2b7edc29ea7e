// Icon files (.ico) turned into the resources an executable's icon is made of.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace osvari::pack {

struct IconResources {
  std::string group;                // RT_GROUP_ICON: the directory, naming image i by id i + 1
  std::vector<std::string> images;  // RT_ICON, one per image in the file
};

// Throws ImageFormatError saying what is wrong when `file` is not an icon file.
IconResources read_icon_file(std::string_view file);

}  // namespace osvari::pack

// Reading a built executable the way Windows does: its resources through the loader, its version
// information through the version calls, its machine and subsystem from its headers.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace osvari::testing {

// Loaded as an image resource file, never run; unloaded with the object.
class ResourceImage {
 public:
  explicit ResourceImage(const std::wstring& executable);
  ~ResourceImage();
  ResourceImage(const ResourceImage&) = delete;
  ResourceImage& operator=(const ResourceImage&) = delete;

  [[nodiscard]] bool loaded() const { return module_ != nullptr; }
  // The bytes of the resource of this numeric type and id, in any language.
  [[nodiscard]] std::optional<std::string> resource(int type, int id) const;
  // The numeric ids of the resources of this type, in the order the image lists them.
  [[nodiscard]] std::vector<int> numeric_ids(int type) const;

 private:
  void* module_;
};

inline constexpr int resource_type_icon = 3;
inline constexpr int resource_type_group_icon = 14;
inline constexpr int resource_type_manifest = 24;

// The manifest (resource 1), or empty when there is none.
std::string manifest_of(const std::wstring& executable);

// A field of the US English string table ("CompanyName", ...), "(no version information)" or
// "(none)" when it is missing.
std::wstring version_string(const std::wstring& executable, const std::wstring& field);

// Every field of the string table that the version information names first (its own
// language, whichever that is); empty when there is none.
std::map<std::wstring, std::wstring> version_fields(const std::wstring& executable);

// The fixed file version, most and least significant halves; all ones when missing.
std::pair<std::uint32_t, std::uint32_t> file_version_numbers(const std::wstring& executable);

struct ImageKind {
  std::uint16_t machine = 0;
  std::uint16_t subsystem = 0;
};
ImageKind image_kind_of(const std::wstring& executable);

}  // namespace osvari::testing

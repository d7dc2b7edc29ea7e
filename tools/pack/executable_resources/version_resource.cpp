#include "tools/pack/executable_resources/version_resource.h"

#include <vector>

#include "base/little_endian.h"

namespace osvari::pack {
namespace {

constexpr std::uint16_t text_value = 1;
constexpr std::uint16_t binary_value = 0;

void append_text(std::string& out, std::u16string_view text) {
  for (char16_t unit : text) append_little_endian(out, unit, 2);
  append_little_endian(out, 0, 2);
}
void pad4(std::string& out) { out.resize((out.size() + 3) & ~std::size_t{3}, '\0'); }

// One node of the version tree: length, value length, type, key, value, children, each part
// starting on a 4-byte boundary. The length leaves out the padding after the last part.
std::string node(std::u16string_view key, std::string_view value, std::uint16_t value_length, std::uint16_t type,
                 const std::vector<std::string>& children = {}) {
  std::string out(6, '\0');
  append_text(out, key);
  pad4(out);
  out += value;
  for (const std::string& child : children) {
    pad4(out);
    out += child;
  }
  store_little_endian(out, 0, out.size(), 2);
  store_little_endian(out, 2, value_length, 2);
  store_little_endian(out, 4, type, 2);
  return out;
}

std::string text_node(std::u16string_view key, std::u16string_view text) {
  std::string value;
  append_text(value, text);
  return node(key, value, static_cast<std::uint16_t>(text.size() + 1), text_value);
}

std::u16string stem_of(std::u16string_view file_name) {
  const auto dot = file_name.rfind(u'.');
  return std::u16string(dot == std::u16string_view::npos || dot == 0 ? file_name : file_name.substr(0, dot));
}

}  // namespace

std::optional<std::array<std::uint16_t, 4>> version_numbers(std::u16string_view text) {
  std::array<std::uint16_t, 4> numbers{};
  std::size_t found = 0;
  std::size_t i = 0;
  while (true) {
    if (found == numbers.size()) return std::nullopt;
    const std::size_t digits_start = i;
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      value = value * 10 + (text[i] - u'0');
      if (value > 0xFFFF) return std::nullopt;
    }
    if (i == digits_start) return std::nullopt;
    numbers[found++] = static_cast<std::uint16_t>(value);
    if (i == text.size()) return numbers;
    if (text[i] != u'.') return std::nullopt;
    ++i;
  }
}

std::optional<std::string> build_version_resource(const VersionInformation& information) {
  const auto numbers = version_numbers(information.version).value_or(std::array<std::uint16_t, 4>{});
  const std::uint32_t most_significant = (std::uint32_t{numbers[0]} << 16) | numbers[1];
  const std::uint32_t least_significant = (std::uint32_t{numbers[2]} << 16) | numbers[3];
  std::string fixed;
  append_little_endian(fixed, 0xFEEF04BD, 4);        // signature
  append_little_endian(fixed, 0x00010000, 4);        // structure version 1.0
  append_little_endian(fixed, most_significant, 4);  // file version
  append_little_endian(fixed, least_significant, 4);
  append_little_endian(fixed, most_significant, 4);  // product version
  append_little_endian(fixed, least_significant, 4);
  append_little_endian(fixed, 0x3F, 4);     // every flag is meaningful
  append_little_endian(fixed, 0, 4);        // and none is set
  append_little_endian(fixed, 0x40004, 4);  // VOS_NT_WINDOWS32
  append_little_endian(fixed, 1, 4);        // VFT_APP
  append_little_endian(fixed, 0, 4);        // no subtype
  append_little_endian(fixed, 0, 4);        // no date
  append_little_endian(fixed, 0, 4);

  const std::u16string stem = stem_of(information.file_name);
  const std::u16string product = information.product.empty() ? stem : information.product;
  std::vector<std::string> strings;
  if (!information.company.empty()) strings.push_back(text_node(u"CompanyName", information.company));
  strings.push_back(text_node(u"FileDescription", product));
  if (!information.version.empty()) strings.push_back(text_node(u"FileVersion", information.version));
  strings.push_back(text_node(u"InternalName", stem));
  strings.push_back(text_node(u"OriginalFilename", information.file_name));
  strings.push_back(text_node(u"ProductName", product));
  if (!information.version.empty()) strings.push_back(text_node(u"ProductVersion", information.version));

  std::string translation;
  append_little_endian(translation, 0x0409, 2);  // U.S. English
  append_little_endian(translation, 1200, 2);    // UTF-16
  const std::string string_file_info =
      node(u"StringFileInfo", {}, 0, text_value, {node(u"040904B0", {}, 0, text_value, strings)});
  const std::string var_file_info =
      node(u"VarFileInfo", {}, 0, text_value, {node(u"Translation", translation, 4, binary_value)});
  std::string block = node(u"VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), binary_value,
                           {string_file_info, var_file_info});
  // Every node lies within the block, so a block that fits means every length field fits.
  if (block.size() > max_version_resource_size) return std::nullopt;
  return block;
}

}  // namespace osvari::pack

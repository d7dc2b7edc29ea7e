#include "tools/pack/executable_resources/version_resource.h"

#include <vector>

namespace osvari::pack {
namespace {

constexpr std::uint16_t text_value = 1;
constexpr std::uint16_t binary_value = 0;

void append16(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void append32(std::string& out, std::uint32_t value) {
  append16(out, value & 0xFFFF);
  append16(out, value >> 16);
}
void append_text(std::string& out, std::u16string_view text) {
  for (char16_t unit : text) append16(out, unit);
  append16(out, 0);
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
  out[0] = static_cast<char>(out.size() & 0xFF);
  out[1] = static_cast<char>((out.size() >> 8) & 0xFF);
  out[2] = static_cast<char>(value_length & 0xFF);
  out[3] = static_cast<char>(value_length >> 8);
  out[4] = static_cast<char>(type);
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
  for (std::size_t i = 0; i < text.size() && found < numbers.size();) {
    if (text[i] < u'0' || text[i] > u'9') {
      ++i;
      continue;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      value = value * 10 + (text[i] - u'0');
      if (value > 0xFFFF) return std::nullopt;
    }
    numbers[found++] = static_cast<std::uint16_t>(value);
  }
  if (found == 0) return std::nullopt;
  return numbers;
}

std::string build_version_resource(const VersionInformation& information) {
  const auto numbers = version_numbers(information.version).value_or(std::array<std::uint16_t, 4>{});
  const std::uint32_t most_significant = (std::uint32_t{numbers[0]} << 16) | numbers[1];
  const std::uint32_t least_significant = (std::uint32_t{numbers[2]} << 16) | numbers[3];
  std::string fixed;
  append32(fixed, 0xFEEF04BD);        // signature
  append32(fixed, 0x00010000);        // structure version 1.0
  append32(fixed, most_significant);  // file version
  append32(fixed, least_significant);
  append32(fixed, most_significant);  // product version
  append32(fixed, least_significant);
  append32(fixed, 0x3F);     // every flag is meaningful
  append32(fixed, 0);        // and none is set
  append32(fixed, 0x40004);  // VOS_NT_WINDOWS32
  append32(fixed, 1);        // VFT_APP
  append32(fixed, 0);        // no subtype
  append32(fixed, 0);        // no date
  append32(fixed, 0);

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
  append16(translation, 0x0409);  // U.S. English
  append16(translation, 1200);    // UTF-16
  const std::string string_file_info =
      node(u"StringFileInfo", {}, 0, text_value, {node(u"040904B0", {}, 0, text_value, strings)});
  const std::string var_file_info =
      node(u"VarFileInfo", {}, 0, text_value, {node(u"Translation", translation, 4, binary_value)});
  return node(u"VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), binary_value,
              {string_file_info, var_file_info});
}

}  // namespace osvari::pack

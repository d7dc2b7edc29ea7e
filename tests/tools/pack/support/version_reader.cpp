#include "tests/tools/pack/support/version_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/tools/pack/support/executable_image_builder.h"

namespace osvari::testing {
namespace {

struct Node {
  std::u16string key;
  std::string_view value;
  std::vector<Node> children;
};

std::size_t aligned4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One node at `offset` of `block`; children follow the value, each on a 4-byte boundary.
bool read_node(std::string_view block, std::size_t offset, Node& node, std::size_t& end) {
  if (offset + 6 > block.size()) return false;
  const std::size_t length = read_u16(block, offset);
  const std::size_t value_length = read_u16(block, offset + 2);
  const bool text = read_u16(block, offset + 4) == 1;
  if (length < 6 || offset + length > block.size()) return false;
  end = offset + length;
  std::size_t position = offset + 6;
  for (;;) {
    if (position + 2 > end) return false;
    const char16_t unit = read_u16(block, position);
    position += 2;
    if (unit == 0) break;
    node.key.push_back(unit);
  }
  position = aligned4(position);
  const std::size_t value_bytes = text ? value_length * 2 : value_length;
  if (position + value_bytes > end) return false;
  node.value = block.substr(position, value_bytes);
  position = aligned4(position + value_bytes);
  while (position < end) {
    Node child;
    std::size_t child_end = 0;
    if (!read_node(block, position, child, child_end)) return false;
    node.children.push_back(std::move(child));
    position = aligned4(child_end);
  }
  return true;
}

std::u16string text_of(std::string_view value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) text.push_back(read_u16(value, i));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

}  // namespace

VersionBlock read_version_block(std::string_view block) {
  VersionBlock result;
  Node root;
  std::size_t end = 0;
  if (!read_node(block, 0, root, end)) {
    ADD_FAILURE() << "malformed version block";
    return result;
  }
  EXPECT_EQ(end, block.size()) << "the root's length is not the block's size";
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  if (root.value.size() != 52 || read_u32(root.value, 0) != 0xFEEF04BD) {
    ADD_FAILURE() << "no fixed file information";
    return result;
  }
  const auto numbers = [&](std::size_t offset) {
    const std::uint32_t high = read_u32(root.value, offset);
    const std::uint32_t low = read_u32(root.value, offset + 4);
    return std::array<std::uint16_t, 4>{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                                        static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
  };
  result.file_version = numbers(8);
  result.product_version = numbers(16);
  result.file_type = read_u32(root.value, 36);
  for (const Node& child : root.children) {
    if (child.key == u"StringFileInfo" && !child.children.empty()) {
      result.string_table = child.children.front().key;
      for (const Node& string : child.children.front().children) result.strings[string.key] = text_of(string.value);
    }
    if (child.key == u"VarFileInfo" && !child.children.empty() && child.children.front().value.size() == 4) {
      result.translation = read_u32(child.children.front().value, 0);
    }
  }
  return result;
}

}  // namespace osvari::testing

#include "tools/pack/pe/pe_imports.h"

#include "tools/pack/pe/pe_reader.h"

namespace osvari::pack {
namespace {

constexpr std::uint32_t import_descriptor_size = 20;
constexpr std::uint32_t import_name_field = 12;
constexpr std::uint32_t delay_descriptor_size = 32;
constexpr std::uint32_t delay_name_field = 4;
constexpr std::size_t max_dll_name_length = 260;
constexpr std::uint32_t max_descriptors = 65536;

// Each table is a run of fixed-size descriptors ended by one whose name address is zero.
bool read_table(const PeReader& image, int directory_index, std::uint32_t descriptor_size, std::uint32_t name_field,
                std::vector<std::string>& names) {
  const PeDataDirectory table = image.headers().directory(directory_index);
  if (table.address == 0) return true;
  for (std::uint32_t i = 0; i < max_descriptors; ++i) {
    const auto name_address = image.u32_at_address(table.address + i * descriptor_size + name_field);
    if (!name_address) return false;
    if (*name_address == 0) return true;
    const auto name = image.string_at_address(*name_address, max_dll_name_length);
    if (!name) return false;
    names.push_back(*name);
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::string>> imported_dll_names(const ImageBytes& bytes) {
  const std::optional<PeReader> image = PeReader::read(bytes);
  if (!image) return std::nullopt;
  std::vector<std::string> names;
  if (!read_table(*image, pe_import_directory, import_descriptor_size, import_name_field, names)) return std::nullopt;
  if (!read_table(*image, pe_delay_import_directory, delay_descriptor_size, delay_name_field, names)) {
    return std::nullopt;
  }
  return names;
}

}  // namespace osvari::pack

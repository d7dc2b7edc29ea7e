#include "tools/pack/inputs/entry_names.h"

#include "payload/entry_name.h"
#include "payload/entry_name_case.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
  std::u16string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1, code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code_point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code_point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code_point = lead & 0x07, smallest = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto continuation = static_cast<unsigned char>(text[i + k]);
      if ((continuation & 0xC0) != 0x80) return std::nullopt;
      code_point = (code_point << 6) | (continuation & 0x3F);
    }
    if (code_point < smallest || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      return std::nullopt;
    }
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code_point));
    }
    i += length;
  }
  return result;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code_point = text[i];
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      code_point = 0xFFFD;
    }
    if (code_point < 0x80) {
      result.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
  }
  return result;
}

std::u16string fold_letter_case(std::u16string_view name) {
  std::u16string folded;
  fold_entry_name(name, folded);
  return folded;
}

bool ends_in_dll(std::u16string_view name) {
  if (name.size() < 4) return false;
  std::u16string suffix(name.substr(name.size() - 4));
  for (char16_t& unit : suffix) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  return suffix == u".dll";
}

std::string name_component_problem(std::u16string_view component) {
  // The launcher refuses the same names, with the same rules.
  switch (entry_component_problem(component)) {
    case EntryNameProblem::none:
      return {};
    case EntryNameProblem::empty_component:
      return "is empty";
    case EntryNameProblem::dot_component:
    case EntryNameProblem::dot_dot_component:
      return "is \"" + utf16_to_utf8(component) + "\"";
    case EntryNameProblem::device_name:
      return "is a Windows device name";
    case EntryNameProblem::ends_in_dot_or_space:
      return "ends in a dot or a space";
    case EntryNameProblem::separator:
      return component.find(u'\\') != std::u16string_view::npos ? "contains a backslash" : "contains a slash";
    case EntryNameProblem::colon:
      return "contains a colon";
    case EntryNameProblem::reserved_character:
      return "contains one of < > \" | ? *";
    case EntryNameProblem::control_character:
      return "contains a control character";
    case EntryNameProblem::zero_character:
      return "contains a zero character";
  }
  return "cannot be an entry name";
}

std::u16string make_entry_name(const std::vector<std::filesystem::path>& components,
                               const std::filesystem::path& source) {
  std::u16string name;
  for (const std::filesystem::path& component : components) {
#ifdef _WIN32
    const std::wstring& native = component.native();
    const std::u16string converted(native.begin(), native.end());
#else
    const std::optional<std::u16string> utf16 = utf8_to_utf16(component.native());
    if (!utf16) fail_bad_input("file name is not valid UTF-8: " + display_path(source));
    const std::u16string& converted = *utf16;
#endif
    if (const std::string problem = name_component_problem(converted); !problem.empty()) {
      fail_bad_input("file name " + problem + ": " + display_path(source));
    }
    if (!name.empty()) name.push_back(u'\\');
    name.append(converted);
  }
  if (name.empty()) fail_bad_input("file name is empty: " + display_path(source));
  if (name.size() > max_entry_name_length) {
    fail_bad_input("entry name is longer than " + std::to_string(max_entry_name_length) +
                   " UTF-16 code units: " + display_path(source));
  }
  return name;
}

std::string display_path(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.native();
#endif
}

std::filesystem::path path_from_argument(const std::string& argument) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(argument.begin(), argument.end()));
#else
  return std::filesystem::path(argument);
#endif
}

}  // namespace osvari::pack

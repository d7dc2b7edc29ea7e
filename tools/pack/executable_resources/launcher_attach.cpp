#include "tools/pack/executable_resources/launcher_attach.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tools/pack/executable_resources/icon_file.h"
#include "tools/pack/executable_resources/version_resource.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/output_files/pending_output.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/read_failure.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

std::string read_whole_file(const fs::path& path, const std::string& what) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) fail_bad_input("no such " + what + " file: " + display_path(path));
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  if (!file) fail_cannot_read(path);
  return contents.str();
}

std::u16string utf16_of(const std::string& text) { return utf8_to_utf16(text).value_or(u""); }

// The program's icons (every group and every image, so the groups' references hold) and its
// version information.
struct ProgramLook {
  std::vector<Resource> icons;
  std::vector<Resource> version;
};

ProgramLook look_of(const fs::path& program) {
  const std::string image = read_whole_file(program, "program");
  ProgramLook look;
  try {
    const std::optional<PeHeaders> headers = PeHeaders::read(ImageBytes::in_memory(image));
    if (!headers) throw ImageFormatError("has headers outside the file");
    const ResourceTable table = read_resources(image, *headers);
    for (const Resource& resource : table.resources()) {
      if (resource.type == resource_id(resource_type_icon) || resource.type == resource_id(resource_type_group_icon)) {
        look.icons.push_back(resource);
      } else if (resource.type == resource_id(resource_type_version)) {
        look.version.push_back(resource);
      }
    }
  } catch (const ImageFormatError& error) {
    fail_bad_input("the program " + display_path(program) + " " + error.what() +
                   ": give --icon and --version to pack it without its own icon and version information");
  }
  // Groups without their images would show no icon at all.
  const auto is_group = [](const Resource& resource) { return resource.type == resource_id(resource_type_group_icon); };
  if (std::none_of(look.icons.begin(), look.icons.end(), is_group)) look.icons.clear();
  return look;
}

// The image types the system's own codecs read on every Windows, known by their first bytes.
bool is_known_image(std::string_view bytes) {
  return bytes.starts_with("\x89PNG\r\n\x1a\n") || bytes.starts_with("\xFF\xD8\xFF") || bytes.starts_with("GIF87a") ||
         bytes.starts_with("GIF89a") || bytes.starts_with("BM");
}

void set_window_resources(ResourceTable& resources, const ExecutableOptions& options) {
  resources.replace(resource_id(resource_type_rcdata), resource_id(window_options_resource_id),
                    window_options_record(options.window), language_neutral);
  resources.remove(resource_id(resource_type_rcdata), resource_id(splash_image_resource_id));
  if (!options.splash) return;
  std::string image = read_whole_file(*options.splash, "splash image");
  if (!is_known_image(image)) {
    fail_bad_input("the splash image " + display_path(*options.splash) + " is not a PNG, JPEG, GIF or BMP file");
  }
  if (image.size() > 0xFFFFFFFFULL) fail_bad_input("the splash image is 4 GiB or more, larger than a resource can hold");
  resources.replace(resource_id(resource_type_rcdata), resource_id(splash_image_resource_id), std::move(image),
                    language_neutral);
}

}  // namespace

PeEditor prepare_launcher(const fs::path& launcher, const fs::path& output, const ExecutableOptions& options) {
  std::optional<PeEditor> executable;
  try {
    executable.emplace(read_whole_file(launcher, "launcher"));
  } catch (const ImageFormatError& error) {
    fail_bad_input("the launcher " + display_path(launcher) + " " + error.what());
  }
  if (executable->is_dll()) fail_bad_input("the launcher " + display_path(launcher) + " is a DLL, not an executable");

  executable->set_subsystem(options.console ? subsystem_windows_console : subsystem_windows_gui);
  ResourceTable& resources = executable->resources();
  set_window_resources(resources, options);
  const bool own_version_given = !options.company.empty() || !options.product.empty() || !options.version.empty();
  ProgramLook program;
  if (options.program && (!options.icon || !own_version_given)) program = look_of(*options.program);
  if (!options.icon && !program.icons.empty()) {
    resources.remove_type(resource_id(resource_type_icon));
    resources.remove_type(resource_id(resource_type_group_icon));
    for (Resource& icon : program.icons) resources.add(std::move(icon));
  }
  if (options.icon) {
    IconResources icon;
    try {
      icon = read_icon_file(read_whole_file(*options.icon, "icon"));
    } catch (const ImageFormatError& error) {
      fail_bad_input("the icon " + display_path(*options.icon) + " " + error.what());
    }
    resources.remove_type(resource_id(resource_type_icon));
    resources.remove_type(resource_id(resource_type_group_icon));
    resources.add(
        {resource_id(resource_type_group_icon), resource_id(1), resource_id(language_english_us), icon.group});
    for (std::size_t i = 0; i < icon.images.size(); ++i) {
      resources.add({resource_id(resource_type_icon), resource_id(static_cast<std::uint32_t>(i + 1)),
                     resource_id(language_english_us), icon.images[i]});
    }
  }
  if (options.manifest) {
    std::string manifest = read_whole_file(*options.manifest, "manifest");
    if (manifest.find("<assembly") == std::string::npos) {
      fail_bad_input("the manifest " + display_path(*options.manifest) +
                     " is not an application manifest (no <assembly>)");
    }
    resources.replace(resource_id(resource_type_manifest), resource_id(1), std::move(manifest), language_english_us);
  }
  resources.remove_type(resource_id(resource_type_version));
  if (!own_version_given && !program.version.empty()) {
    for (Resource& version : program.version) resources.add(std::move(version));
    return std::move(*executable);
  }
  // The launcher's own version information names the launcher; the output gets its own.
  const VersionInformation version{utf16_of(options.company), utf16_of(options.product), utf16_of(options.version),
                                   output.filename().u16string()};
  std::optional<std::string> version_block = build_version_resource(version);
  if (!version_block) {
    fail_bad_input("the version information is too long: company, product, version and file name must fit in " +
                   std::to_string(max_version_resource_size) + " bytes of version resource");
  }
  resources.add({resource_id(resource_type_version), resource_id(1), resource_id(language_english_us),
                 std::move(*version_block)});
  return std::move(*executable);
}

std::vector<std::string> write_launcher_with_attached_data(PeEditor launcher, const fs::path& output,
                                                           std::string attached_data) {
  if (attached_data.size() > 0xFFFFFFFFULL) {
    fail_bad_input("the attached data is 4 GiB or more, larger than a resource can hold");
  }
  launcher.resources().replace(resource_id(resource_type_rcdata), resource_id(attached_data_resource_id),
                               std::move(attached_data), language_neutral);
  std::string image;
  try {
    image = launcher.write();
  } catch (const ImageFormatError& error) {
    fail_bad_input("cannot write " + display_path(output) + ": the launcher " + error.what());
  }
  PendingOutput pending(output);
  pending.write(image);
  // Whoever may read the program may run it.
  pending.allow_execution();
  pending.commit();

  std::vector<std::string> notes;
  if (launcher.has_signature()) {
    notes.push_back("the launcher was signed; a changed file breaks a signature, so " + display_path(output) +
                    " carries none: sign it again");
  }
  return notes;
}

}  // namespace osvari::pack

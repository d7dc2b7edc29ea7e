#include "tools/pack/executable_resources/launcher_attach.h"

#include <fstream>
#include <sstream>

#include "tools/pack/executable_resources/icon_file.h"
#include "tools/pack/executable_resources/version_resource.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/output_files/pending_output.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

std::string read_whole_file(const fs::path& path, const std::string& what) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) fail_bad_input("no such " + what + " file: " + display_path(path));
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  if (!file) fail_bad_input("cannot read " + display_path(path));
  return contents.str();
}

std::u16string utf16_of(const std::string& text) { return utf8_to_utf16(text).value_or(u""); }

// Whoever may read the program may run it. A file system that keeps no such bit (or refuses
// to change it) leaves it as it is: Windows and Wine never look at it.
void allow_execution(const fs::path& file) {
  std::error_code error;
  const fs::perms current = fs::status(file, error).permissions();
  if (error) return;
  fs::perms execute = fs::perms::none;
  if ((current & fs::perms::owner_read) != fs::perms::none) execute |= fs::perms::owner_exec;
  if ((current & fs::perms::group_read) != fs::perms::none) execute |= fs::perms::group_exec;
  if ((current & fs::perms::others_read) != fs::perms::none) execute |= fs::perms::others_exec;
  fs::permissions(file, execute, fs::perm_options::add, error);
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
  // The launcher's own version information names the launcher; the output gets its own.
  const VersionInformation version{utf16_of(options.company), utf16_of(options.product), utf16_of(options.version),
                                   output.filename().u16string()};
  std::optional<std::string> version_block = build_version_resource(version);
  if (!version_block) {
    fail_bad_input("the version information is too long: company, product, version and file name must fit in " +
                   std::to_string(max_version_resource_size) + " bytes of version resource");
  }
  resources.remove_type(resource_id(resource_type_version));
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
  pending.close();
  allow_execution(pending.temporary_path());
  pending.commit();

  std::vector<std::string> notes;
  if (launcher.has_signature()) {
    notes.push_back("the launcher was signed; a changed file breaks a signature, so " + display_path(output) +
                    " carries none: sign it again");
  }
  return notes;
}

}  // namespace osvari::pack

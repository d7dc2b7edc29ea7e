#include "tools/pack/launcher_attach.h"

#include <fstream>
#include <vector>

#include "platform/messages.h"
#include "platform/modules.h"
#include "tools/pack/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pending_output.h"

namespace osvari::pack {

void write_launcher_with_attached_data(const std::filesystem::path& launcher, const std::filesystem::path& output,
                                       std::string_view attached_data) {
  if (attached_data.size() > 0xFFFFFFFFULL) {
    fail_bad_input("the attached data is 4 GiB or more, larger than a resource can hold");
  }
  // Copied through the stream rather than std::filesystem::copy_file, which the Windows
  // runtime library refuses to let overwrite the (empty) temporary file.
  std::ifstream source(launcher, std::ios::binary);
  if (!source) fail_bad_input("cannot read " + display_path(launcher));
  PendingOutput pending(output);
  std::vector<char> chunk(1 << 20);
  while (source) {
    source.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    pending.write(std::string_view(chunk.data(), static_cast<std::size_t>(source.gcount())));
  }
  if (source.bad()) fail_bad_input("cannot read " + display_path(launcher));
  pending.close();

  std::uint32_t error = 0;
  if (!replace_rcdata_resource(pending.temporary_path().c_str(), attached_data_resource_id, attached_data.data(),
                               attached_data.size(), error)) {
    // Wine leaves no error code when the file is not an executable it can update.
    std::string reason = "not a Windows executable whose resources can be updated";
    if (error != 0) {
      reason = system_message_text(error);
      while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
      }
      reason += " (error " + std::to_string(error) + ")";
    }
    fail_bad_input("cannot attach the data to a copy of " + display_path(launcher) + ": " + reason);
  }
  pending.commit();
}

}  // namespace osvari::pack

// A manifest other than the launcher's own, for tests of the manifest option: it asks for the
// UTF-8 code page.
#pragma once

#include <string_view>

namespace osvari::testing {

inline constexpr std::string_view utf8_code_page_manifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>\n"
    "    <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>\n"
    "  </windowsSettings></application>\n"
    "</assembly>\n";

}  // namespace osvari::testing

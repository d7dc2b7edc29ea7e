// Where the standard streams of this process lead.
#pragma once

namespace osvari {

// True when the standard output or the standard error handle leads to a console, a pipe, a file
// or a device; false when both are missing, invalid or closed, as for a windowed program that
// Explorer started.
bool standard_output_or_error_leads_somewhere();

}  // namespace osvari

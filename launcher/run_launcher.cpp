#include "launcher/run_launcher.h"

#include "launcher/error_reporting.h"

namespace osvari {

int run_launcher() {
  fatal_error("Error, couldn't find attached data header.");
}

}  // namespace osvari

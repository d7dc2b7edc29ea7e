// The whole life of a launcher process, in both roles.
#pragma once

namespace osvari {

// Returns the process exit code; every failure ends the process before it returns.
int run_launcher();

}  // namespace osvari

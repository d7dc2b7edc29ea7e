// The entry point: the launcher has no window, only a run. The GUI entry also serves when the
// packer marks the executable as a console program; the runtime starts it the same way.
#include "launcher/run/run_launcher.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return osvari::run_launcher(); }

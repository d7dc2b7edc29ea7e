// The GUI-subsystem entry point: the launcher has no window, only a run.
#include "launcher/run_launcher.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return osvari::run_launcher(); }

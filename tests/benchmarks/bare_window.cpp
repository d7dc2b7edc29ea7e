#include "tests/benchmarks/bare_window.h"

#include "platform/win32.h"

#include <commctrl.h>

namespace osvari::benchmark {
namespace {

template <typename Function>
Function function_of(const wchar_t* library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(library), name)));
}

}  // namespace

int show_bare_window() {
  const auto create = function_of<decltype(&CreateWindowExW)>(L"user32.dll", "CreateWindowExW");
  const auto show = function_of<decltype(&ShowWindow)>(L"user32.dll", "ShowWindow");
  const auto update = function_of<decltype(&UpdateWindow)>(L"user32.dll", "UpdateWindow");
  const auto send = function_of<decltype(&SendMessageW)>(L"user32.dll", "SendMessageW");
  const auto peek = function_of<decltype(&PeekMessageW)>(L"user32.dll", "PeekMessageW");
  const auto dispatch = function_of<decltype(&DispatchMessageW)>(L"user32.dll", "DispatchMessageW");
  const auto region = function_of<decltype(&SetWindowRgn)>(L"user32.dll", "SetWindowRgn");
  const auto empty_region = function_of<decltype(&CreateRectRgn)>(L"gdi32.dll", "CreateRectRgn");
  const auto init_controls = function_of<decltype(&InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx");
  if (create == nullptr || show == nullptr || update == nullptr || send == nullptr || peek == nullptr ||
      dispatch == nullptr || region == nullptr || empty_region == nullptr || init_controls == nullptr) {
    return 1;
  }
  const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  init_controls(&controls);
  HWND window = create(0, L"STATIC", L"Bare window", WS_POPUP | WS_CAPTION, 100, 100, 360, 130, nullptr, nullptr,
                       nullptr, nullptr);
  if (window == nullptr) return 1;
  HWND bar = create(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 12, 50, 330, 18, window, nullptr,
                    nullptr, nullptr);
  create(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE, 262, 80, 80, 26, window, nullptr, nullptr, nullptr);
  show(window, SW_SHOW);
  update(window);
  MSG message;
  for (int step = 1; step <= 10; ++step) {
    send(bar, PBM_SETPOS, step * 10, 0);
    update(bar);
    while (peek(&message, nullptr, 0, 0, PM_REMOVE)) dispatch(&message);
  }
  // As the progress window goes: emptied of its region, left to the end of the process.
  region(window, empty_region(0, 0, 0, 0), FALSE);
  return 0;
}

}  // namespace osvari::benchmark

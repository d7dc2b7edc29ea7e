#include "platform/progress_window.h"

#include <algorithm>
#include <optional>

#include "platform/decoded_image.h"
#include "platform/system_functions.h"
#include "platform/win32.h"

#include <commctrl.h>

namespace osvari {
namespace {

#define OSVARI_WINDOW_FUNCTION(library, name) \
  decltype(&::name) name = system_function<decltype(&::name)>(library, #name)

// Everything the window needs of user32, gdi32 and comctl32, looked up when a window is first
// shown: a run that shows none loads none of these libraries.
struct WindowFunctions {
  OSVARI_WINDOW_FUNCTION(L"user32.dll", RegisterClassExW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", CreateWindowExW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", DefWindowProcW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", DestroyWindow);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", ShowWindow);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", GetMessageW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", TranslateMessage);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", DispatchMessageW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", IsDialogMessageW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", PostMessageW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", PostQuitMessage);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SendMessageW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetTimer);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SystemParametersInfoW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", GetSystemMetrics);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", GetSysColor);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", GetSysColorBrush);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", LoadIconW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", LoadCursorW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", AdjustWindowRectEx);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetWindowPos);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetWindowLongPtrW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", GetWindowLongPtrW);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetFocus);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetForegroundWindow);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", BeginPaint);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", EndPaint);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", DrawIconEx);
  OSVARI_WINDOW_FUNCTION(L"user32.dll", SetWindowRgn);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", CreateRectRgn);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", CreateFontIndirectW);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", DeleteObject);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", CreateCompatibleDC);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", DeleteDC);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", SelectObject);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", BitBlt);
  OSVARI_WINDOW_FUNCTION(L"gdi32.dll", CreateDIBSection);
  OSVARI_WINDOW_FUNCTION(L"comctl32.dll", InitCommonControlsEx);

  [[nodiscard]] bool complete() const {
    const void* all[] = {
        reinterpret_cast<const void*>(RegisterClassExW),    reinterpret_cast<const void*>(CreateWindowExW),
        reinterpret_cast<const void*>(DefWindowProcW),      reinterpret_cast<const void*>(DestroyWindow),
        reinterpret_cast<const void*>(ShowWindow),          reinterpret_cast<const void*>(GetMessageW),
        reinterpret_cast<const void*>(TranslateMessage),    reinterpret_cast<const void*>(DispatchMessageW),
        reinterpret_cast<const void*>(IsDialogMessageW),    reinterpret_cast<const void*>(PostMessageW),
        reinterpret_cast<const void*>(PostQuitMessage),     reinterpret_cast<const void*>(SendMessageW),
        reinterpret_cast<const void*>(SetTimer),            reinterpret_cast<const void*>(SystemParametersInfoW),
        reinterpret_cast<const void*>(GetSystemMetrics),    reinterpret_cast<const void*>(GetSysColor),
        reinterpret_cast<const void*>(GetSysColorBrush),    reinterpret_cast<const void*>(LoadIconW),
        reinterpret_cast<const void*>(LoadCursorW),         reinterpret_cast<const void*>(AdjustWindowRectEx),
        reinterpret_cast<const void*>(SetWindowPos),
        reinterpret_cast<const void*>(SetWindowLongPtrW),   reinterpret_cast<const void*>(GetWindowLongPtrW),
        reinterpret_cast<const void*>(SetFocus),            reinterpret_cast<const void*>(SetForegroundWindow),
        reinterpret_cast<const void*>(BeginPaint),          reinterpret_cast<const void*>(EndPaint),
        reinterpret_cast<const void*>(DrawIconEx),          reinterpret_cast<const void*>(CreateFontIndirectW),
        reinterpret_cast<const void*>(SetWindowRgn),        reinterpret_cast<const void*>(CreateRectRgn),
        reinterpret_cast<const void*>(DeleteObject),        reinterpret_cast<const void*>(CreateCompatibleDC),
        reinterpret_cast<const void*>(DeleteDC),            reinterpret_cast<const void*>(SelectObject),
        reinterpret_cast<const void*>(BitBlt),              reinterpret_cast<const void*>(CreateDIBSection),
        reinterpret_cast<const void*>(InitCommonControlsEx)};
    return std::none_of(std::begin(all), std::end(all), [](const void* function) { return function == nullptr; });
  }
};

#undef OSVARI_WINDOW_FUNCTION

const WindowFunctions& window_functions() {
  static const WindowFunctions functions;
  return functions;
}

constexpr wchar_t window_class_name[] = L"OsvariOnefileProgress";
constexpr UINT close_message = WM_APP + 1;
constexpr UINT_PTR refresh_timer = 1;
constexpr UINT refresh_milliseconds = 100;
constexpr int bar_steps = 1000;

// Sizes in pixels at the usual 96 dots per inch, as a dialog of this kind has them.
constexpr int margin = 12;
constexpr int plain_width = 360;
constexpr int icon_size = 32;
constexpr int bar_height = 16;
constexpr int button_width = 88;
constexpr int button_height = 26;
constexpr int splash_max_width = 480;
constexpr int splash_max_height = 320;

struct WindowState {
  const WindowFunctions& system;
  const std::function<ProgressReading()>& read;
  const std::function<void()>& gone;
  HWND bar = nullptr;
  HICON icon = nullptr;
  POINT icon_at{};
  HBITMAP splash = nullptr;
  RECT splash_at{};
  bool counting = false;  // the bar counts bytes; else it only moves
  bool cancelled = false;
  WPARAM shown_position = 0;
};

void refresh(WindowState& state) {
  const ProgressReading reading = state.read();
  if (reading.total == 0) return;
  const std::uint64_t done = std::min(reading.done, reading.total);
  const auto position = static_cast<WPARAM>(done * bar_steps / reading.total);
  // Each repaint is drawing work taken from the unpacking (under Wine, requests to the X server).
  if (position == state.shown_position) return;
  state.shown_position = position;
  state.system.SendMessageW(state.bar, PBM_SETPOS, position, 0);
}

void paint(HWND window, const WindowState& state) {
  const WindowFunctions& system = state.system;
  PAINTSTRUCT paint{};
  HDC device = system.BeginPaint(window, &paint);
  if (state.splash != nullptr) {
    HDC memory = system.CreateCompatibleDC(device);
    HGDIOBJ previous = system.SelectObject(memory, state.splash);
    system.BitBlt(device, state.splash_at.left, state.splash_at.top, state.splash_at.right - state.splash_at.left,
                  state.splash_at.bottom - state.splash_at.top, memory, 0, 0, SRCCOPY);
    system.SelectObject(memory, previous);
    system.DeleteDC(memory);
  } else if (state.icon != nullptr) {
    system.DrawIconEx(device, state.icon_at.x, state.icon_at.y, state.icon, icon_size, icon_size, 0, nullptr, DI_NORMAL);
  }
  system.EndPaint(window, &paint);
}

// An empty window region hides the window at once. Hiding or destroying it would do the same,
// but Wine's X11 driver then waits up to 2 s for a window manager to confirm, and an Xvfb has none.
void make_invisible(HWND window, const WindowState& state) {
  state.system.SetWindowRgn(window, state.system.CreateRectRgn(0, 0, 0, 0), TRUE);
  state.gone();
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    window_functions().SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* state = reinterpret_cast<WindowState*>(window_functions().GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) return window_functions().DefWindowProcW(window, message, wparam, lparam);
  const WindowFunctions& system = state->system;
  switch (message) {
    case WM_TIMER:
      refresh(*state);
      return 0;
    case WM_PAINT:
      paint(window, *state);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) != IDCANCEL) break;
      [[fallthrough]];
    case WM_CLOSE:  // the close box and Alt+F4 cancel as the button does
      state->cancelled = true;
      make_invisible(window, *state);
      system.PostQuitMessage(0);
      return 0;
    case close_message:
      make_invisible(window, *state);
      system.DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      system.PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return system.DefWindowProcW(window, message, wparam, lparam);
}

// The splash image over the dialog's own colour, as a bitmap the window paints.
HBITMAP splash_bitmap(const WindowFunctions& system, const DecodedImage& image) {
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = image.width;
  format.bmiHeader.biHeight = -image.height;  // top-down rows, as decoded
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = system.CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  const COLORREF face = system.GetSysColor(COLOR_BTNFACE);
  const std::uint32_t under[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
  auto* out = static_cast<std::uint32_t*>(bits);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    const std::uint32_t pixel = image.pixels[i];
    const std::uint32_t alpha = pixel >> 24;
    std::uint32_t blended = 0;
    for (int channel = 0; channel < 3; ++channel) {
      const std::uint32_t over = (pixel >> (8 * channel)) & 0xFF;  // already multiplied by alpha
      blended |= std::min<std::uint32_t>(255, over + under[channel] * (255 - alpha) / 255) << (8 * channel);
    }
    out[i] = blended;
  }
  return bitmap;
}

HFONT message_font(const WindowFunctions& system) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!system.SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
  return system.CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND child(const WindowFunctions& system, HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style,
           RECT at, int id, HFONT font) {
  HWND control = system.CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                                        at.right - at.left, at.bottom - at.top, parent,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  if (control != nullptr && font != nullptr) system.SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

}  // namespace

ProgressWindowEnd ProgressWindow::run(const ProgressWindowLook& look, const std::function<ProgressReading()>& read,
                                      const std::function<void()>& gone) {
  const WindowFunctions& system = window_functions();
  if (!system.complete()) {
    gone();
    return ProgressWindowEnd::not_shown;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  system.InitCommonControlsEx(&controls);

  WindowState state{system, read, gone};
  state.icon = look.icon != nullptr ? static_cast<HICON>(look.icon) : system.LoadIconW(nullptr, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */);
  std::optional<DecodedImage> splash;
  if (!look.splash_image.empty()) splash = decode_image(look.splash_image, splash_max_width, splash_max_height);
  if (splash) state.splash = splash_bitmap(system, *splash);

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hIcon = state.icon;
  window_class.hCursor = system.LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
  window_class.hbrBackground = system.GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = window_class_name;
  system.RegisterClassExW(&window_class);  // fails harmlessly when a window before this one registered it

  // Without a splash: the icon, the name and a line below it, then the bar, then Cancel. With
  // one: the image, then the bar and Cancel.
  const int splash_width = splash ? splash->width : 0;
  const int splash_height = splash ? splash->height : 0;
  const int width = std::max(plain_width, splash_width + 2 * margin);
  int y = margin;
  HFONT font = message_font(system);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD extended_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  HWND window = system.CreateWindowExW(extended_style, window_class_name, look.title.c_str(), style, 0, 0, 0, 0,
                                       nullptr, nullptr, window_class.hInstance, &state);
  if (window == nullptr) {
    if (font != nullptr) system.DeleteObject(font);
    if (state.splash != nullptr) system.DeleteObject(state.splash);
    gone();
    return ProgressWindowEnd::not_shown;
  }
  if (splash) {
    const int left = (width - splash_width) / 2;
    state.splash_at = {left, y, left + splash_width, y + splash_height};
    y += splash_height + margin;
  } else {
    state.icon_at = {margin, y};
    const int text_left = margin + icon_size + margin;
    child(system, window, L"STATIC", look.title.c_str(), SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
          {text_left, y, width - margin, y + 16}, -1, font);
    child(system, window, L"STATIC", L"Preparing to start\x2026", SS_LEFT | SS_NOPREFIX,
          {text_left, y + 18, width - margin, y + 34}, -1, font);
    y += icon_size + margin;
  }
  const ProgressReading first = read();
  state.counting = first.total > 0;
  state.bar = child(system, window, PROGRESS_CLASSW, L"", state.counting ? PBS_SMOOTH : PBS_MARQUEE,
                    {margin, y, width - margin, y + bar_height}, -1, font);
  if (state.counting) {
    system.SendMessageW(state.bar, PBM_SETRANGE32, 0, bar_steps);
  } else {
    system.SendMessageW(state.bar, PBM_SETMARQUEE, TRUE, 30);
  }
  y += bar_height + margin;
  HWND cancel = child(system, window, L"BUTTON", L"Cancel", WS_TABSTOP | BS_DEFPUSHBUTTON,
                      {width - margin - button_width, y, width - margin, y + button_height}, IDCANCEL, font);
  y += button_height + margin;

  // The outer size for that inner size, centred on the screen.
  RECT frame{0, 0, width, y};
  system.AdjustWindowRectEx(&frame, style, FALSE, extended_style);
  const int outer_width = frame.right - frame.left;
  const int outer_height = frame.bottom - frame.top;
  const int left = (system.GetSystemMetrics(SM_CXSCREEN) - outer_width) / 2;
  const int top = (system.GetSystemMetrics(SM_CYSCREEN) - outer_height) / 2;
  system.SetWindowPos(window, nullptr, left, top, outer_width, outer_height, SWP_NOZORDER);
  refresh(state);
  window_.store(window);
  // close() may have come while the window was being made: it is then never shown.
  if (close_requested_.load()) {
    window_.store(nullptr);
    gone();
    system.DestroyWindow(window);  // never mapped, so nothing to wait for
    if (font != nullptr) system.DeleteObject(font);
    if (state.splash != nullptr) system.DeleteObject(state.splash);
    return ProgressWindowEnd::closed;
  }
  system.ShowWindow(window, SW_SHOWNORMAL);
  system.SetForegroundWindow(window);
  if (cancel != nullptr) system.SetFocus(cancel);
  system.SetTimer(window, refresh_timer, refresh_milliseconds, nullptr);
  MSG message{};
  while (system.GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (system.IsDialogMessageW(window, &message)) continue;
    system.TranslateMessage(&message);
    system.DispatchMessageW(&message);
  }
  window_.store(nullptr);
  if (state.cancelled) return ProgressWindowEnd::cancelled;
  if (font != nullptr) system.DeleteObject(font);
  if (state.splash != nullptr) system.DeleteObject(state.splash);
  return ProgressWindowEnd::closed;
}

void ProgressWindow::close() {
  close_requested_.store(true);
  if (void* window = window_.load()) window_functions().PostMessageW(static_cast<HWND>(window), close_message, 0, 0);
}

}  // namespace osvari

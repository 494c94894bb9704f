// The window a desktop-output swap chain presents into: borderless, topmost,
// covering one output's desktop rectangle, and a message pump the present
// loop can call every frame without ever blocking. Windows only.
#pragma once

#include <windows.h>

namespace brisk {

// The window class every desktop-output window is made of.
inline constexpr wchar_t kDesktopWindowClass[] = L"BriskDesktopOutput";

class DesktopWindow {
  public:
    DesktopWindow() = default;
    // Destroys the window, then its class.
    ~DesktopWindow();
    DesktopWindow(const DesktopWindow&) = delete;
    DesktopWindow& operator=(const DesktopWindow&) = delete;

    // Registers the class and shows the window over `area` (desktop
    // coordinates, physical pixels) without taking the focus from the
    // console. S_OK, or the failed call's error as an HRESULT.
    HRESULT Create(const RECT& area);
    HWND Handle() const { return hwnd; }

    // Handles whatever waits in this thread's queue, at most every 100 ms,
    // and returns at once. True when the desktop's display settings changed
    // since it last said so.
    bool Pump();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HWND hwnd = nullptr;
    bool registered = false;
    bool displayChanged = false;
    ULONGLONG lastPumpMs = 0;
};

}  // namespace brisk

#include "platform/win32/desktop_window.h"

namespace brisk {
namespace {

constexpr ULONGLONG kPumpIntervalMs = 100;

HRESULT LastError() {
    const DWORD err = GetLastError();
    return err != 0 ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

}  // namespace

DesktopWindow::~DesktopWindow() {
    if (hwnd != nullptr) {
        DestroyWindow(hwnd);
    }
    if (registered) {
        UnregisterClassW(kDesktopWindowClass, GetModuleHandleW(nullptr));
    }
}

HRESULT DesktopWindow::Create(const RECT& area) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kDesktopWindowClass;
    if (RegisterClassExW(&wc) == 0) {
        return LastError();
    }
    registered = true;

    // The swap chain must match the panel pixel for pixel: the window is
    // made per-monitor DPI aware, whatever the process is, so that Windows
    // neither scales its size nor the picture.
    const DPI_AWARENESS_CONTEXT previous =
        SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // No activation: the console keeps the keyboard, so Ctrl+C still works.
    hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kDesktopWindowClass, L"brisk",
                           WS_POPUP, area.left, area.top, area.right - area.left,
                           area.bottom - area.top, nullptr, nullptr, instance, this);
    const HRESULT created = hwnd != nullptr ? S_OK : LastError();
    if (previous != nullptr) {
        SetThreadDpiAwarenessContext(previous);
    }
    if (hwnd == nullptr) {
        return created;
    }
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    return S_OK;
}

bool DesktopWindow::Pump() {
    // Each look at the queue is a call into the window manager (under Wine
    // a server round trip of some 50 us); a few a second keep the window
    // answering and see a display change well within a frame or ten.
    const ULONGLONG now = GetTickCount64();
    if (now - lastPumpMs < kPumpIntervalMs) {
        return false;
    }
    lastPumpMs = now;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    const bool changed = displayChanged;
    displayChanged = false;
    return changed;
}

LRESULT CALLBACK DesktopWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<DesktopWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_DISPLAYCHANGE:
            if (self != nullptr) {
                self->displayChanged = true;
            }
            return 0;
        case WM_CLOSE:
            // The run ends from the console (or its time); a stray Alt+F4 on
            // the panel must not take the swap chain's window away.
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the swap chain paints every pixel
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace brisk

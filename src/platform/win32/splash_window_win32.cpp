// The launcher's own splash window: a borderless tool window on the splash thread that shows one
// picture, centred on the primary screen, from a bitmap rendered once at the screen's DPI.
#include "platform/splash_window.h"

#include <objbase.h>

#include "platform/win32/com_apartment.h"
#include "platform/win32/dpi.h"
#include "platform/win32/splash_picture.h"
#include "platform/win32/windows_h.h"

namespace qn::platform {

class SplashWindow {
public:
    HWND handle = nullptr;
    win32::UniqueBitmap bitmap;

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void paint();
};

namespace {

constexpr const char* kClassName = "SplashScreenWindow";

// Registered once per process, by the splash thread. A system that refuses the shadow style
// gets the class without it.
bool registerSplashClass(bool shadow) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS | (shadow ? CS_DROPSHADOW : 0);
    windowClass.lpfnWndProc = SplashWindow::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    registered = RegisterClassExA(&windowClass) != 0;
    if (!registered && shadow) {
        windowClass.style &= ~static_cast<UINT>(CS_DROPSHADOW);
        registered = RegisterClassExA(&windowClass) != 0;
    }
    return registered;
}

}  // namespace

LRESULT CALLBACK SplashWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<SplashWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->handle = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<SplashWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT SplashWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the picture covers the whole window; erasing would only flicker
    default:
        return DefWindowProcA(handle, message, wParam, lParam);
    }
}

void SplashWindow::paint() {
    PAINTSTRUCT paintStruct;
    HDC windowDc = BeginPaint(handle, &paintStruct);
    if (windowDc && bitmap) {
        BITMAP info{};
        GetObjectA(bitmap.get(), sizeof info, &info);
        if (HDC memoryDc = CreateCompatibleDC(windowDc)) {
            const HGDIOBJ previous = SelectObject(memoryDc, bitmap.get());
            BitBlt(windowDc, 0, 0, info.bmWidth, info.bmHeight, memoryDc, 0, 0, SRCCOPY);
            SelectObject(memoryDc, previous);
            DeleteDC(memoryDc);
        }
    }
    EndPaint(handle, &paintStruct);
}

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

SplashWindowPtr newSplashWindow() { return SplashWindowPtr(new SplashWindow); }

WindowHandle createSplashWindow(SplashWindow& window, const std::string& picturePath, bool shadow) {
    // OleLoadPicture wants COM on the calling thread; the picture is released inside the scope.
    const win32::ComApartment com;
    registerSplashClass(shadow);
    win32::SplashPicture picture(window.bitmap);
    picture.loadFromFile(picturePath);  // a picture that does not load leaves a 0 by 0 window
    // A picture made for 96 DPI keeps its size on the screen, as the launcher's other windows do.
    const unsigned dpi = win32::primaryMonitorDpi();
    const SIZE pixels = picture.pixelSize();
    const SIZE size{win32::scaledToDpi(pixels.cx, dpi), win32::scaledToDpi(pixels.cy, dpi)};
    // The full primary screen, not the work area; the division truncates toward zero, so a
    // picture wider than the screen gets a negative left edge.
    const int left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    if (!CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, left, top, size.cx,
                         size.cy, nullptr, nullptr, GetModuleHandleA(nullptr), &window)) {
        window.handle = nullptr;  // creation may fail after WM_NCCREATE stored it
        return nullptr;
    }
    picture.renderToBitmap(window.handle, size);
    return window.handle;
}

void runSplashWindow(SplashWindow& window) {
    if (window.handle) {
        ShowWindow(window.handle, SW_SHOWNORMAL);
        UpdateWindow(window.handle);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (window.handle) DestroyWindow(window.handle);
    window.handle = nullptr;
}

void postSplashQuit(std::uint32_t threadId) { PostThreadMessageA(threadId, WM_QUIT, 0, 0); }

}  // namespace qn::platform

// The launcher's own splash window: a borderless tool window on the splash thread that shows one
// picture, centred on the primary screen, from a bitmap rendered once.
#include "platform/splash_window.h"

#include <objbase.h>

#include "platform/win32/splash_picture.h"
#include "platform/win32/windows_h.h"
#include "ui/window.h"

namespace qn::platform {

class SplashWindow : public ui::Window {
public:
    win32::UniqueBitmap bitmap;

protected:
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void paint();
};

namespace {

constexpr const char* kClassName = "SplashScreenWindow";
constexpr UINT kClassStyle = CS_DBLCLKS | CS_SAVEBITS;

// Registered once per process (an existing class is kept). A system that refuses the shadow
// style gets the class without it.
void registerSplashClass(bool shadow) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    HBRUSH background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    if (shadow && ui::Window::registerClass(kClassName, kClassStyle | CS_DROPSHADOW, arrow, background)) {
        return;
    }
    ui::Window::registerClass(kClassName, kClassStyle, arrow, background);
}

// OleLoadPicture wants COM on the calling thread; the picture is released inside the scope.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (initialised_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

}  // namespace

LRESULT SplashWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the picture covers the whole window; erasing would only flicker
    default:
        return ui::Window::onMessage(message, wParam, lParam);
    }
}

void SplashWindow::paint() {
    PAINTSTRUCT paintStruct;
    HDC windowDc = BeginPaint(handle(), &paintStruct);
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
    EndPaint(handle(), &paintStruct);
}

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

SplashWindowPtr newSplashWindow() { return SplashWindowPtr(new SplashWindow); }

WindowHandle createSplashWindow(SplashWindow& window, const std::string& picturePath, bool shadow) {
    const ComScope com;
    registerSplashClass(shadow);
    win32::SplashPicture picture(window.bitmap);
    picture.loadFromFile(picturePath);  // a picture that does not load leaves a 0 by 0 window
    const SIZE size = picture.pixelSize();
    // The full primary screen, not the work area; the division truncates toward zero, so a
    // picture wider than the screen gets a negative left edge.
    const int left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    const RECT bounds{left, top, left + size.cx, top + size.cy};
    HWND handle = window.create(kClassName, WS_EX_TOOLWINDOW, WS_POPUP, bounds, nullptr, nullptr);
    if (!handle) return nullptr;
    picture.renderToBitmap(handle);
    return handle;
}

void runSplashWindow(SplashWindow& window) {
    if (HWND handle = window.handle()) {
        ShowWindow(handle, SW_SHOWNORMAL);
        UpdateWindow(handle);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // On this thread: only the thread that owns a window can destroy it.
    if (HWND handle = window.handle()) DestroyWindow(handle);
}

void postSplashQuit(std::uint32_t threadId) { PostThreadMessageA(threadId, WM_QUIT, 0, 0); }

}  // namespace qn::platform

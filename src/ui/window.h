#pragma once
// Window classes of the launcher: a C++ object per window, reached from the window procedure
// through GWLP_USERDATA, which the object's address is stored in at WM_NCCREATE.

#include "platform/win32/windows_h.h"

namespace qn::ui {

class Window {
public:
    Window() = default;
    virtual ~Window();  // destroys a window that still exists
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    /// Registers a class whose windows route to Window objects; an existing class is fine.
    static bool registerClass(const char* className, UINT style, HCURSOR cursor, HBRUSH background);

    /// Creates the window of a registered class for this object; null when it cannot be made.
    HWND create(const char* className, DWORD exStyle, DWORD style, const RECT& bounds, HWND parent,
                const char* title = "");
    HWND handle() const { return handle_; }

protected:
    /// Messages of this window; DefWindowProcA unless overridden.
    virtual LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handle_ = nullptr;
};

}  // namespace qn::ui

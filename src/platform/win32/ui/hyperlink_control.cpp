#include "platform/win32/ui/hyperlink_control.h"

#include <commctrl.h>
#include <shellapi.h>

#include "platform/win32/unique_handle.h"
#include "text/colour_text.h"

namespace qn::ui {

namespace {

constexpr UINT_PTR subclassId = 1;
constexpr UINT_PTR toolId = 1;

/// A colour kept as "r,g,b" text under the current user's browser settings.
std::optional<COLORREF> browserColour(HKEY settings, const char* name) {
    char buffer[64];
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    if (RegQueryValueExA(settings, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    buffer[size] = '\0';  // the stored text need not end in one
    const auto colour = platform::parseColourText(buffer);
    if (!colour) return std::nullopt;
    return RGB(colour->red, colour->green, colour->blue);
}

}  // namespace

HyperlinkControl::~HyperlinkControl() { detach(); }

bool HyperlinkControl::attach(HWND dialog, int id) {
    detach();
    control_ = GetDlgItem(dialog, id);
    if (!control_) return false;
    char text[1024];
    const int length = GetWindowTextA(control_, text, sizeof text);
    label_.assign(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    target_ = label_;

    // Without SS_NOTIFY a static is transparent to the mouse; a tab stop lets the keyboard reach it.
    const LONG_PTR style = GetWindowLongPtrA(control_, GWL_STYLE);
    SetWindowLongPtrA(control_, GWL_STYLE, style | SS_NOTIFY | WS_TABSTOP);

    loadColours();
    createFont(nullptr);
    if (!SetWindowSubclass(control_, &HyperlinkControl::subclassProc, subclassId,
                           reinterpret_cast<DWORD_PTR>(this))) {
        control_ = nullptr;
        return false;
    }
    createTooltip();
    InvalidateRect(control_, nullptr, TRUE);
    return true;
}

void HyperlinkControl::detach() {
    if (control_) RemoveWindowSubclass(control_, &HyperlinkControl::subclassProc, subclassId);
    if (tooltip_) DestroyWindow(tooltip_);
    if (font_) DeleteObject(font_);
    control_ = nullptr;
    tooltip_ = nullptr;
    font_ = nullptr;
}

void HyperlinkControl::loadColours() {
    win32::UniqueKey settings;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Settings", 0,
                      KEY_QUERY_VALUE, settings.put()) != ERROR_SUCCESS) {
        return;
    }
    if (const auto colour = browserColour(settings.get(), "Anchor Color")) linkColour_ = *colour;
    if (const auto colour = browserColour(settings.get(), "Anchor Color Visited")) {
        visitedColour_ = *colour;
    }
}

void HyperlinkControl::createFont(HFONT base) {
    // The dialog's font, underlined; at a new DPI the dialog hands its new font to the control.
    if (!base) base = reinterpret_cast<HFONT>(SendMessageA(GetParent(control_), WM_GETFONT, 0, 0));
    if (!base) base = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTA description{};
    if (!GetObjectA(base, sizeof description, &description)) return;
    description.lfUnderline = TRUE;
    const HFONT font = CreateFontIndirectA(&description);
    if (!font) return;
    if (font_) DeleteObject(font_);
    font_ = font;
}

void HyperlinkControl::createTooltip() {
    const HWND dialog = GetParent(control_);
    tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    if (!tooltip_) return;
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = control_;
    tool.uId = toolId;
    tool.rect = textRect();
    tool.hinst = GetModuleHandleA(nullptr);
    tool.lpszText = const_cast<char*>(target_.c_str());
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

RECT HyperlinkControl::textRect() const {
    RECT client{};
    GetClientRect(control_, &client);
    RECT text = client;
    const HDC dc = GetDC(control_);
    if (dc) {
        const HGDIOBJ previous = font_ ? SelectObject(dc, font_) : nullptr;
        DrawTextA(dc, label_.c_str(), static_cast<int>(label_.size()), &text,
                  DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP | DT_CALCRECT);
        if (previous) SelectObject(dc, previous);
        ReleaseDC(control_, dc);
    }
    // A label wider than the control is cut at the control's edge.
    if (text.right > client.right) text.right = client.right;
    if (text.bottom > client.bottom) text.bottom = client.bottom;
    return text;
}

bool HyperlinkControl::isOverText(LPARAM clientPoint) const {
    const POINT point{static_cast<short>(LOWORD(clientPoint)), static_cast<short>(HIWORD(clientPoint))};
    const RECT text = textRect();
    return PtInRect(&text, point) != FALSE;
}

void HyperlinkControl::paint(HDC dc) {
    RECT client{};
    GetClientRect(control_, &client);
    // The dialog decides the background of its statics.
    const HWND dialog = GetParent(control_);
    HBRUSH background = reinterpret_cast<HBRUSH>(
        SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control_)));
    if (!background) background = GetSysColorBrush(COLOR_BTNFACE);
    FillRect(dc, &client, background);

    const HGDIOBJ previous = font_ ? SelectObject(dc, font_) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, !IsWindowEnabled(control_) ? GetSysColor(COLOR_GRAYTEXT)
                     : visited_                 ? visitedColour_
                                                : linkColour_);
    RECT text = client;
    DrawTextA(dc, label_.c_str(), static_cast<int>(label_.size()), &text,
              DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP);
    if (GetFocus() == control_) {
        RECT focus = textRect();
        DrawFocusRect(dc, &focus);
    }
    if (previous) SelectObject(dc, previous);
}

void HyperlinkControl::open() {
    const HINSTANCE result = ShellExecuteA(GetParent(control_), "open", target_.c_str(), nullptr,
                                           nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) > 32) {
        visited_ = true;
        InvalidateRect(control_, nullptr, TRUE);
    }
}

LRESULT CALLBACK HyperlinkControl::subclassProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto* link = reinterpret_cast<HyperlinkControl*>(self);
    if (message == WM_NCDESTROY) {
        // The control goes first when the dialog closes; forget it before the object does.
        RemoveWindowSubclass(window, &HyperlinkControl::subclassProc, subclassId);
        if (link->tooltip_ && IsWindow(link->tooltip_)) DestroyWindow(link->tooltip_);
        link->tooltip_ = nullptr;
        link->control_ = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    try {
        return link->onMessage(message, wParam, lParam);
    } catch (...) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
}

LRESULT HyperlinkControl::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (tooltip_ && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
        MSG relayed{control_, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
        SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(control_, &ps);
        if (dc) paint(dc);
        EndPaint(control_, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;  // painted whole in WM_PAINT
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_SETCURSOR: {
        POINT point{};
        GetCursorPos(&point);
        ScreenToClient(control_, &point);
        const RECT text = textRect();
        if (PtInRect(&text, point)) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONDOWN:
        SetFocus(control_);
        if (isOverText(lParam)) {
            pressed_ = true;
            SetCapture(control_);
        }
        return 0;
    case WM_LBUTTONUP:
        if (pressed_) {
            pressed_ = false;
            ReleaseCapture();
            // A click is a press and a release, both over the text.
            if (isOverText(lParam)) open();
        }
        return 0;
    case WM_CAPTURECHANGED:
        pressed_ = false;
        break;
    case WM_GETDLGCODE: {
        const MSG* pending = reinterpret_cast<const MSG*>(lParam);
        if (pending && pending->message == WM_KEYDOWN && pending->wParam == VK_RETURN) {
            return DLGC_WANTMESSAGE;  // Enter on the focused link opens it, not the default button
        }
        return DLGC_WANTCHARS | DefSubclassProc(control_, message, wParam, lParam);
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            open();
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == ' ') {
            open();
            return 0;
        }
        if (wParam == '\r') return 0;  // the key itself was handled at WM_KEYDOWN
        break;
    case WM_SETFONT: {
        const LRESULT result = DefSubclassProc(control_, message, wParam, lParam);
        createFont(reinterpret_cast<HFONT>(wParam));
        if (tooltip_) {
            // The text, and so the part that takes the mouse, has a new size.
            TOOLINFOA tool{};
            tool.cbSize = sizeof tool;
            tool.hwnd = control_;
            tool.uId = toolId;
            tool.rect = textRect();
            SendMessageA(tooltip_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
        }
        InvalidateRect(control_, nullptr, TRUE);
        return result;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
        InvalidateRect(control_, nullptr, TRUE);
        break;
    default:
        break;
    }
    return DefSubclassProc(control_, message, wParam, lParam);
}

}  // namespace qn::ui

#include "platform/win32/ui/dialog_resizer.h"

#include "platform/win32/dpi.h"

namespace qn::ui {

namespace {

RECT clientRectOf(HWND control, HWND dialog) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

void DialogResizer::attach(HWND dialog, const std::vector<AnchorRule>& rules) {
    dialog_ = dialog;
    RECT window{};
    GetWindowRect(dialog, &window);
    minimumWindow_ = {window.right - window.left, window.bottom - window.top};
    RECT client{};
    GetClientRect(dialog, &client);
    startClient_ = {client.right, client.bottom};

    dpi_ = win32::dpiOfWindow(dialog);

    placed_.clear();
    for (const AnchorRule& rule : rules) {
        const HWND control = GetDlgItem(dialog, rule.controlId);
        if (!control) continue;
        placed_.push_back({control, clientRectOf(control, dialog), rule.anchors});
        win32::keepDialogControlPlaceAtDpiChange(control);
    }

    const int gripWidth = win32::systemMetricForDpi(SM_CXVSCROLL, dpi_);
    const int gripHeight = win32::systemMetricForDpi(SM_CYHSCROLL, dpi_);
    grip_ = CreateWindowExA(0, "SCROLLBAR", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEGRIP |
                                SBS_SIZEBOXBOTTOMRIGHTALIGN,
                            client.right - gripWidth, client.bottom - gripHeight, gripWidth,
                            gripHeight, dialog, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (grip_) {
        // Above the other controls, so that the group box does not paint over it.
        SetWindowPos(grip_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        placed_.push_back({grip_, clientRectOf(grip_, dialog), MoveRight | MoveDown});
        win32::keepDialogControlPlaceAtDpiChange(grip_);
    }
}

void DialogResizer::rescale(unsigned dpi) {
    if (dpi == 0 || dpi == dpi_) return;
    const auto scaled = [this, dpi](LONG length) { return win32::scaledToDpi(length, dpi, dpi_); };
    startClient_ = {scaled(startClient_.cx), scaled(startClient_.cy)};
    minimumWindow_ = {scaled(minimumWindow_.cx), scaled(minimumWindow_.cy)};
    for (Placed& entry : placed_) {
        RECT& r = entry.start;
        r = {scaled(r.left), scaled(r.top), scaled(r.right), scaled(r.bottom)};
        if (entry.control == grip_) {
            // The grip is a system metric, not a scaled length: it stays in the corner.
            r.left = r.right - win32::systemMetricForDpi(SM_CXVSCROLL, dpi);
            r.top = r.bottom - win32::systemMetricForDpi(SM_CYHSCROLL, dpi);
        }
    }
    dpi_ = dpi;
}

bool DialogResizer::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!dialog_) return false;
    if (message == WM_GETMINMAXINFO) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = minimumWindow_.cx;
        info->ptMinTrackSize.y = minimumWindow_.cy;
        return true;
    }
    if (message == WM_DPICHANGED) {
        // The places kept are in pixels of the old DPI; the system then moves the dialog to
        // its new size, and WM_SIZE lays the controls out from the rescaled places.
        rescale(LOWORD(wParam));
        return false;
    }
    if (message == WM_SIZE) {
        if (wParam == SIZE_MINIMIZED) return true;
        // A maximised window cannot be resized by dragging, so its grip would only mislead.
        if (grip_) ShowWindow(grip_, wParam == SIZE_MAXIMIZED ? SW_HIDE : SW_SHOW);
        layout(LOWORD(lParam), HIWORD(lParam));
        return true;
    }
    return false;
}

void DialogResizer::layout(int width, int height) {
    // Never smaller than at the start, also when the system ignores the minimum (a maximised
    // window on a small screen, for example).
    const int dx = width > startClient_.cx ? width - startClient_.cx : 0;
    const int dy = height > startClient_.cy ? height - startClient_.cy : 0;
    std::vector<RECT> places;
    places.reserve(placed_.size());
    for (const Placed& entry : placed_) {
        RECT r = entry.start;
        if (entry.anchors & MoveRight) r.left += dx, r.right += dx;
        if (entry.anchors & GrowWidth) r.right += dx;
        if (entry.anchors & MoveDown) r.top += dy, r.bottom += dy;
        if (entry.anchors & GrowHeight) r.bottom += dy;
        places.push_back(r);
    }
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    HDWP positions = BeginDeferWindowPos(static_cast<int>(placed_.size()));
    for (std::size_t i = 0; positions && i < placed_.size(); ++i) {
        const RECT& r = places[i];
        positions = DeferWindowPos(positions, placed_[i].control, nullptr, r.left, r.top,
                                   r.right - r.left, r.bottom - r.top, flags);
    }
    if (!positions || !EndDeferWindowPos(positions)) {
        // A failed deferral drops the whole batch; place each control on its own instead.
        for (std::size_t i = 0; i < placed_.size(); ++i) {
            const RECT& r = places[i];
            SetWindowPos(placed_[i].control, nullptr, r.left, r.top, r.right - r.left,
                         r.bottom - r.top, flags);
        }
    }
    // The group box and the texts leave traces of their old places otherwise.
    InvalidateRect(dialog_, nullptr, TRUE);
}

}  // namespace qn::ui

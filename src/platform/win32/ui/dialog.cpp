#include "platform/win32/ui/dialog.h"

#include "platform/win32/dpi.h"
#include "res/resource_ids.h"

namespace qn::ui {

INT_PTR Dialog::showModal(HWND owner) {
    owner_ = owner;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                           &Dialog::dialogProc, reinterpret_cast<LPARAM>(this));
}

bool Dialog::onMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR Dialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        setIcons();
        return onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));  // the notification code does not matter
        return TRUE;
    default: {
        if (message == WM_DPICHANGED) setIcons();  // and the dialog goes on to lay itself out anew
        INT_PTR result = FALSE;
        return onMessage(message, wParam, lParam, result) ? result : FALSE;
    }
    }
}

void Dialog::setIcons() {
    const unsigned dpi = win32::dpiOfWindow(handle_);
    const auto load = [dpi](int width, int height) {
        return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                             IMAGE_ICON, win32::systemMetricForDpi(width, dpi),
                                             win32::systemMetricForDpi(height, dpi), LR_DEFAULTCOLOR));
    };
    UniqueIcon big(load(SM_CXICON, SM_CYICON));
    UniqueIcon small(load(SM_CXSMICON, SM_CYSMICON));
    // The window lets go of the icons it had only when it gets the new ones.
    if (big) SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    if (small) SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    if (big) bigIcon_ = std::move(big);
    if (small) smallIcon_ = std::move(small);
}

INT_PTR CALLBACK Dialog::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        self->handle_ = dialog;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    // Messages before WM_INITDIALOG (WM_SETFONT, WM_GETMINMAXINFO) find no object yet.
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self) return FALSE;
    try {
        return self->dispatch(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's frames; a dialog that cannot go on is closed
        // as if it had failed to open.
        EndDialog(dialog, -1);
        return FALSE;
    }
}

}  // namespace qn::ui

#include "platform/win32/ui/dialog.h"

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
        return onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));  // the notification code does not matter
        return TRUE;
    default: {
        INT_PTR result = FALSE;
        return onMessage(message, wParam, lParam, result) ? result : FALSE;
    }
    }
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

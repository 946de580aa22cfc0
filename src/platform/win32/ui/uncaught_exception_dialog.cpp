#include "platform/win32/ui/uncaught_exception_dialog.h"

#include "platform/win32/ui/centring.h"
#include "res/resource_ids.h"
#include "text/modified_utf8.h"

namespace qn::ui {

UncaughtExceptionDialog::UncaughtExceptionDialog(const std::string& text)
    : Dialog(IDD_UNCAUGHT_EXCEPTION), text_(withCrLfLineBreaks(text)) {}

bool UncaughtExceptionDialog::onInitDialog() {
    const HWND edit = item(IDC_EXCEPTION_TEXT);
    // A deep stack trace is longer than an edit control takes by default.
    SendMessageA(edit, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextA(edit, text_.c_str());
    SendMessageA(edit, EM_SETREADONLY, TRUE, 0);
    SendDlgItemMessageA(handle(), IDC_EXCEPTION_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND))), 0);
    centreWindow(handle(), owner());
    resizer_.attach(handle(), {
                                  {IDC_EXCEPTION_GROUP, GrowWidth | GrowHeight},
                                  {IDC_EXCEPTION_INTRO, GrowWidth},
                                  {IDC_EXCEPTION_WARNING, GrowWidth | MoveDown},
                                  {IDC_EXCEPTION_HINT, GrowWidth | MoveDown},
                                  {IDC_EXCEPTION_TEXT, GrowWidth | GrowHeight},
                                  {IDOK, MoveRight | MoveDown},
                                  {IDCANCEL, MoveRight | MoveDown},
                              });
    return true;  // the focus goes to Ignore, the first tab stop
}

void UncaughtExceptionDialog::onCommand(int id) {
    // Enter is Ignore; Escape and the close box are Stop.
    if (id == IDOK || id == IDCANCEL) end(id);
}

bool UncaughtExceptionDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                        INT_PTR& result) {
    if (resizer_.handleMessage(message, wParam, lParam)) {
        result = 0;
        return true;
    }
    return false;
}

}  // namespace qn::ui

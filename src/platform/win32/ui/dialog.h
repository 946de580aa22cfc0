#pragma once
// Modal dialogs from the executable's templates. The dialog object travels to the dialog
// procedure as DialogBoxParamA's lParam and lives in DWLP_USER from WM_INITDIALOG on.

#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_h.h"

namespace qn::ui {

class Dialog {
public:
    explicit Dialog(int templateId) : templateId_(templateId) {}
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    /// Runs the modal loop owned by `owner`: the result given to end(), or -1 (or 0 for a bad
    /// owner) when the dialog could not be made.
    INT_PTR showModal(HWND owner);

protected:
    HWND handle() const { return handle_; }
    HWND owner() const { return owner_; }
    HWND item(int id) const { return GetDlgItem(handle_, id); }
    void end(INT_PTR result) { EndDialog(handle_, result); }

    /// WM_INITDIALOG; true lets the system give the focus to the first tab stop.
    virtual bool onInitDialog() { return true; }
    /// WM_COMMAND, by the control id in the low word of wParam.
    virtual void onCommand(int id) { (void)id; }
    /// Any other message; true when handled, with the dialog procedure's result.
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    struct IconTraits {
        static HICON invalid() noexcept { return nullptr; }
        static void close(HICON icon) noexcept { DestroyIcon(icon); }
    };
    using UniqueIcon = win32::Unique<HICON, IconTraits>;

    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    /// The executable's own icon in the caption and in the task switcher, at the dialog's DPI.
    void setIcons();

    int templateId_;
    HWND handle_ = nullptr;
    HWND owner_ = nullptr;
    // Outlive the window: the dialog is gone when showModal returns.
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
};

}  // namespace qn::ui

#pragma once
// The resizable dialog that shows an uncaught Java exception and asks Ignore or Stop.

#include <string>

#include "platform/win32/ui/dialog.h"
#include "platform/win32/ui/dialog_resizer.h"

namespace qn::ui {

class UncaughtExceptionDialog : public Dialog {
public:
    /// `text` is display text; its line breaks become CR LF for the edit control.
    explicit UncaughtExceptionDialog(const std::string& text);

protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    std::string text_;
    DialogResizer resizer_;
};

}  // namespace qn::ui

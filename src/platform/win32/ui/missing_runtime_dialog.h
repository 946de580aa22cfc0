#pragma once
// The dialog shown when no runtime was found: which version is needed, where to get one, and a
// folder browser to point at a runtime already on the machine.

#include <string>

#include "platform/dialogs.h"
#include "platform/win32/ui/dialog.h"
#include "platform/win32/ui/hyperlink_control.h"

namespace qn::ui {

class MissingRuntimeDialog : public Dialog {
public:
    MissingRuntimeDialog(std::string messageText, platform::RuntimeFolderCheck checkFolder);

    /// The folder and library confirmed with OK (showModal gave 1).
    const platform::RuntimeFolderVerdict& choice() const { return choice_; }

protected:
    bool onInitDialog() override;
    void onCommand(int id) override;

private:
    void browse();

    std::string messageText_;
    platform::RuntimeFolderCheck checkFolder_;
    platform::RuntimeFolderVerdict choice_;
    std::string browseHint_;  // the template's text, shown again after a usable folder
    HyperlinkControl downloadLink_;
};

}  // namespace qn::ui

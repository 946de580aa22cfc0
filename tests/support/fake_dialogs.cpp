// The fake questions: the runtime question plays a script of user actions against the folder
// check the core hands in, as the real dialog does; the exception question answers as the test says.
#include "fake_platform.h"
#include "platform/dialogs.h"
#include "text/modified_utf8.h"

namespace qn::platform {

std::optional<ChosenRuntime> askForRuntimeFolder(const std::string& messageText,
                                                 const RuntimeFolderCheck& checkFolder) {
    fake::FakeSystem& system = fake::system();
    system.runtimeQuestions.push_back(messageText);
    RuntimeFolderVerdict choice;
    const std::string browse = "browse ";
    for (const std::string& step : system.runtimeDialogScript) {
        if (step.compare(0, browse.size(), browse) == 0) {
            choice = checkFolder ? checkFolder(step.substr(browse.size())) : RuntimeFolderVerdict{};
            system.runtimeDialogEvents.push_back(
                choice.folder + " -> " +
                (choice.canConfirm() ? choice.jvmLibrary
                                     : choice.problem.empty() ? std::string("none")
                                                              : "none (" + choice.problem + ")"));
        } else if (step == "browse-cancel") {
            system.runtimeDialogEvents.push_back("browse cancelled");
        } else if (step == "ok") {
            if (choice.canConfirm()) return choice.confirmed();
            system.runtimeDialogEvents.push_back("ok ignored");  // the button is disabled
        } else if (step == "cancel") {
            return std::nullopt;
        }
    }
    return std::nullopt;  // closed
}

bool askStopAfterException(const std::string& text) {
    fake::system().exceptionQuestions.push_back(text);
    return fake::system().stopAfterException;
}

std::string displayText(const std::u16string& text) { return encodeUtf8(text); }

}  // namespace qn::platform

// The fake questions: the runtime question plays a script of user actions against the same
// folder choice the real dialog uses; the exception question answers as the test says.
#include "fake_platform.h"
#include "platform/dialogs.h"
#include "platform/runtime_folder_choice.h"
#include "vm/modified_utf8.h"

namespace qn::platform {

std::optional<ChosenRuntime> askForRuntimeFolder(const std::string& messageText,
                                                 const RuntimeFolderCheck& checkFolder) {
    fake::FakeSystem& system = fake::system();
    system.runtimeQuestions.push_back(messageText);
    RuntimeFolderChoice choice;
    const std::string browse = "browse ";
    for (const std::string& step : system.runtimeDialogScript) {
        if (step.compare(0, browse.size(), browse) == 0) {
            choice.pick(step.substr(browse.size()), checkFolder);
            system.runtimeDialogEvents.push_back(
                choice.chosenFolder() + " -> " +
                (choice.canConfirm() ? choice.chosenJvmLibrary()
                                     : choice.problem().empty() ? std::string("none")
                                                                : "none (" + choice.problem() + ")"));
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

// The launcher's side of its windows: what each window is told, and what its answers mean.
#include "platform/posix/window_helper.h"
#include "platform/platform.h"
#include "res/download_link.h"
#include "res/resource_ids.h"
#include "trace/trace.h"

namespace qn::platform {

bool showErrorWindow(const std::string& title, const std::string& text) {
    WindowHelper helper;
    if (!helper.open("message", {title.empty() ? "Error" : title, text})) return false;
    return helper.receive().has_value();
}

std::optional<bool> askStopInWindow(const std::string& text) {
    WindowHelper helper;
    if (!helper.open("exception", {text})) return std::nullopt;
    const std::optional<Fields> answer = helper.receive();
    if (!answer) return std::nullopt;
    trace::line("window", "exception question answered " + (*answer)[0]);
    return (*answer)[0] != "ignore";
}

bool askForRuntimeInWindow(const std::string& messageText, const RuntimeFolderCheck& checkFolder,
                           std::optional<ChosenRuntime>& choice) {
    WindowHelper helper;
    const std::string chooserTitle = loadString(IDS_BROWSE_FOR_JRE).value_or("");
    if (!helper.open("runtime", {messageText, QN_DOWNLOAD_LINK, chooserTitle})) return false;
    RuntimeFolderVerdict verdict;
    for (bool shown = false;; shown = true) {
        const std::optional<Fields> record = helper.receive();
        // A helper that ended once its window was up counts as Cancel.
        if (!record) return shown;
        const std::string& what = (*record)[0];
        if (what == "check" && record->size() > 1) {
            verdict = checkFolder ? checkFolder((*record)[1]) : RuntimeFolderVerdict{};
            if (trace::enabled()) {
                trace::line("window", "folder " + (*record)[1] +
                                          (verdict.canConfirm() ? " holds " + verdict.jvmLibrary
                                                                : " holds no runtime to use " + verdict.problem));
            }
            if (!helper.send({verdict.canConfirm() ? "1" : "0", verdict.problem})) return true;
            continue;
        }
        // Only a folder the check confirmed is a choice, whatever the window says.
        if (what == "ok" && verdict.canConfirm()) choice = verdict.confirmed();
        return true;
    }
}

}  // namespace qn::platform

#include "platform/runtime_folder_choice.h"

#include "platform/platform.h"

namespace qn::platform {

bool RuntimeFolderChoice::pick(const std::string& path, const RuntimeFolderCheck& checkFolder) {
    chosenFolder_ = path.empty() ? path : conventions().withTrailingSeparator(path);
    RuntimeFolderVerdict verdict;
    if (!chosenFolder_.empty() && checkFolder) verdict = checkFolder(chosenFolder_);
    chosenJvmLibrary_ = std::move(verdict.jvmLibrary);
    problem_ = chosenJvmLibrary_.empty() ? std::move(verdict.problem) : std::string();
    return canConfirm();
}

}  // namespace qn::platform

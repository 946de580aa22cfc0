#include "platform/runtime_folder_choice.h"

#include "platform/platform.h"

namespace qn::platform {

bool RuntimeFolderChoice::pick(const std::string& path, const RuntimeFolderCheck& checkFolder) {
    chosenFolder_ = path.empty() ? path : conventions().withTrailingSeparator(path);
    chosenJvmLibrary_ = chosenFolder_.empty() || !checkFolder ? std::string() : checkFolder(chosenFolder_);
    return canConfirm();
}

}  // namespace qn::platform

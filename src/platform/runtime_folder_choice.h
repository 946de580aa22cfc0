#pragma once
// What the missing-runtime question knows between browses: the folder last picked and the
// runtime library in it. OK may confirm only a folder that holds a library.

#include <string>

#include "platform/dialogs.h"

namespace qn::platform {

class RuntimeFolderChoice {
public:
    /// A folder picked with Browse (as the system gives it, without a trailing separator); true
    /// when it holds a runtime library for the wanted flavour.
    bool pick(const std::string& path, const RuntimeFolderCheck& checkFolder);
    bool canConfirm() const { return !chosenJvmLibrary_.empty(); }
    /// The confirmed choice; only meaningful when canConfirm().
    ChosenRuntime confirmed() const { return {chosenFolder_, chosenJvmLibrary_}; }

    const std::string& chosenFolder() const { return chosenFolder_; }
    const std::string& chosenJvmLibrary() const { return chosenJvmLibrary_; }
    /// Why the folder last picked cannot be confirmed, in words for the user; often empty.
    const std::string& problem() const { return problem_; }

private:
    std::string chosenFolder_;
    std::string chosenJvmLibrary_;
    std::string problem_;
};

}  // namespace qn::platform

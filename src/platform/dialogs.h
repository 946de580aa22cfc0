#pragma once
// The two questions the launcher may put to its user: where a runtime is (none was found), and
// whether to stop after an uncaught Java exception. Windows shows the modal dialogs of the
// executable's resources; POSIX answers as a user who cannot answer would, or asks on a terminal.

#include <functional>
#include <optional>
#include <string>

namespace qn::platform {

/// A runtime folder the user confirmed, and the runtime library found in it.
struct ChosenRuntime {
    std::string folder;      // with a trailing separator
    std::string jvmLibrary;  // never empty
};

/// What a picked folder holds: the runtime library to load, or a reason for the user why none
/// fits (empty when the folder simply holds no runtime). OK may confirm only a folder with a
/// library.
struct RuntimeFolderVerdict {
    std::string folder;      // with a trailing separator; empty when nothing was picked
    std::string jvmLibrary;  // empty when the folder cannot be confirmed
    std::string problem;     // empty when a library was found

    bool canConfirm() const { return !jvmLibrary.empty(); }
    /// The confirmed choice; only meaningful when canConfirm().
    ChosenRuntime confirmed() const { return {folder, jvmLibrary}; }
};

/// Looks into a folder picked with Browse, given as the system gives it (without a trailing
/// separator). The core supplies it, so every backend judges a choice by the same rule.
using RuntimeFolderCheck = std::function<RuntimeFolderVerdict(const std::string& pickedPath)>;

/// Shows the missing-runtime question, owned by the thread's active window. Gives the choice on
/// OK; nothing on Cancel, on closing, or when the question cannot be shown.
std::optional<ChosenRuntime> askForRuntimeFolder(const std::string& messageText,
                                                 const RuntimeFolderCheck& checkFolder);

/// Shows an uncaught exception's text (display text, see displayText) and asks Ignore or Stop,
/// owned by the thread's active window. True for Stop, and when a dialog cannot be shown.
bool askStopAfterException(const std::string& text);

/// UTF-16 text from the runtime in the platform's 8-bit display text (the ANSI code page on
/// Windows, UTF-8 elsewhere).
std::string displayText(const std::u16string& text);

}  // namespace qn::platform

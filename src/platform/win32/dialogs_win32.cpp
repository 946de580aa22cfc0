// The launcher's two questions as the executable's modal dialogs.

#include "platform/win32/windows_h.h"

#include <commctrl.h>

#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/ui/missing_runtime_dialog.h"
#include "platform/win32/ui/uncaught_exception_dialog.h"
#include "res/resource_ids.h"

namespace qn::platform {

namespace {

/// The link's tooltip and the version-6 controls of the manifest are registered here.
void initCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
}

}  // namespace

std::optional<ChosenRuntime> askForRuntimeFolder(const std::string& messageText,
                                                 const RuntimeFolderCheck& checkFolder) {
    if (win32::isConsoleProgram()) {
        // A tool started from a script must not wait for an answer: where to get one, then Cancel.
        // The link as the executable was branded: the resource, not the build's default.
        win32::writeStandardError(messageText + "\n" + loadString(IDS_DOWNLOAD_LINK).value_or(""));
        return std::nullopt;
    }
    initCommonControls();
    ui::MissingRuntimeDialog dialog(messageText, checkFolder);
    if (dialog.showModal(GetActiveWindow()) != IDOK || !dialog.choice().canConfirm()) {
        return std::nullopt;
    }
    return dialog.choice().confirmed();
}

bool askStopAfterException(const std::string& text) {
    // The trace is on the program's error stream already; the run ends as the runtime's own
    // command ends it, with the other threads let finish.
    if (win32::isConsoleProgram()) return false;
    initCommonControls();
    ui::UncaughtExceptionDialog dialog(text);
    // Stop, and a dialog that could not be shown, both end the application.
    return dialog.showModal(GetActiveWindow()) != IDOK;
}

std::string displayText(const std::u16string& text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, length, converted.data(), size, nullptr, nullptr);
    return converted;
}

}  // namespace qn::platform

#include "platform/win32/ui/missing_runtime_dialog.h"

#include <objbase.h>
#include <shlobj.h>

#include "platform/platform.h"
#include "platform/win32/com_apartment.h"
#include "platform/win32/ui/centring.h"
#include "res/resource_ids.h"

namespace qn::ui {

namespace {

constexpr UINT browseFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
static_assert(browseFlags == 0x241, "only file-system folders, new style, no new-folder button");

}  // namespace

MissingRuntimeDialog::MissingRuntimeDialog(std::string messageText,
                                           platform::RuntimeFolderCheck checkFolder)
    : Dialog(IDD_MISSING_RUNTIME),
      messageText_(std::move(messageText)),
      checkFolder_(std::move(checkFolder)) {}

bool MissingRuntimeDialog::onInitDialog() {
    downloadLink_.attach(handle(), IDC_DOWNLOAD_LINK);
    SetDlgItemTextA(handle(), IDC_MISSING_MESSAGE, messageText_.c_str());
    SendDlgItemMessageA(handle(), IDC_MISSING_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND))), 0);
    EnableWindow(item(IDOK), FALSE);
    char hint[256] = "";
    GetDlgItemTextA(handle(), IDC_BROWSE_HINT, hint, sizeof hint);
    browseHint_ = hint;
    centreWindow(handle(), owner());
    return true;
}

void MissingRuntimeDialog::onCommand(int id) {
    switch (id) {
    case IDOK:
        // Enter reaches here even while the button is disabled; only a found library confirms.
        if (choice_.canConfirm()) end(IDOK);
        break;
    case IDCANCEL:
        end(IDCANCEL);
        break;
    case IDC_BROWSE:
        browse();
        break;
    default:
        break;
    }
}

void MissingRuntimeDialog::browse() {
    const win32::ComApartment apartment;  // the new-style folder browser needs it
    const std::string title = platform::loadString(IDS_BROWSE_FOR_JRE).value_or("");
    char displayName[MAX_PATH] = "";
    BROWSEINFOA info{};
    info.hwndOwner = handle();
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = browseFlags;
    PIDLIST_ABSOLUTE folder = SHBrowseForFolderA(&info);
    if (!folder) return;  // cancelled: nothing changes

    char path[MAX_PATH] = "";
    const bool isFileSystemFolder = SHGetPathFromIDListA(folder, path) != FALSE;
    CoTaskMemFree(folder);
    if (!isFileSystemFolder) return;

    SetDlgItemTextA(handle(), IDC_JRE_PATH_EDIT, path);
    choice_ = checkFolder_ ? checkFolder_(path) : platform::RuntimeFolderVerdict{};
    EnableWindow(item(IDOK), choice_.canConfirm() ? TRUE : FALSE);
    // A folder that cannot be used for a reason the user can act on says so in place of the hint.
    SetDlgItemTextA(handle(), IDC_BROWSE_HINT,
                    choice_.problem.empty() ? browseHint_.c_str() : choice_.problem.c_str());
}

}  // namespace qn::ui

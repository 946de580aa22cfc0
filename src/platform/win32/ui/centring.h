#pragma once

#include "platform/win32/windows_h.h"

namespace qn::ui {

/// Centres the window over its owner when the owner is visible and not minimised, otherwise over
/// the work area of the desktop; a window that would stick out of the work area is moved inside.
void centreWindow(HWND window, HWND owner);

}  // namespace qn::ui

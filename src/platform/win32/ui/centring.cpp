#include "platform/win32/ui/centring.h"

#include <algorithm>

namespace qn::ui {

namespace {

RECT workArea() {
    RECT area{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return area;
}

/// Where a window of `size` starts so that it lies inside [low, high), its start kept when both
/// cannot hold.
LONG keepInside(LONG start, LONG size, LONG low, LONG high) {
    return std::max(low, std::min(start, high - size));
}

}  // namespace

void centreWindow(HWND window, HWND owner) {
    RECT bounds{};
    if (!GetWindowRect(window, &bounds)) return;
    const LONG width = bounds.right - bounds.left;
    const LONG height = bounds.bottom - bounds.top;

    const RECT area = workArea();
    RECT centre = area;
    RECT ownerBounds{};
    if (owner && IsWindowVisible(owner) && !IsIconic(owner) && GetWindowRect(owner, &ownerBounds)) {
        centre = ownerBounds;
    }
    LONG x = centre.left + ((centre.right - centre.left) - width) / 2;
    LONG y = centre.top + ((centre.bottom - centre.top) - height) / 2;
    x = keepInside(x, width, area.left, area.right);
    y = keepInside(y, height, area.top, area.bottom);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qn::ui

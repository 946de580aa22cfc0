#include "platform/win32/dpi.h"

namespace qn::win32 {

namespace {

// Looked up at run time: the executable also starts on Windows 7, which has none of them.
using DpiForWindow = UINT(WINAPI*)(HWND);
using MetricsForDpi = int(WINAPI*)(int, UINT);
using DpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using ControlDpiBehaviour = BOOL(WINAPI*)(HWND, int, int);

template <typename Function>
Function user32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}

unsigned screenDpi() {
    const HDC screen = GetDC(nullptr);
    if (!screen) return kDefaultDpi;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : kDefaultDpi;
}

}  // namespace

unsigned dpiOfWindow(HWND window) {
    static const auto forWindow = user32Function<DpiForWindow>("GetDpiForWindow");
    if (forWindow && window) {
        if (const UINT dpi = forWindow(window)) return dpi;
    }
    return screenDpi();
}

unsigned primaryMonitorDpi() {
    // Only from the system folder: a shcore.dll beside the executable must never be loaded.
    static const HMODULE shcore = LoadLibraryExA("shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    static const auto forMonitor = shcore ? reinterpret_cast<DpiForMonitor>(reinterpret_cast<void*>(
                                                GetProcAddress(shcore, "GetDpiForMonitor")))
                                          : nullptr;
    if (forMonitor) {
        const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        UINT x = 0;
        UINT y = 0;
        constexpr int effectiveDpi = 0;  // MDT_EFFECTIVE_DPI
        if (SUCCEEDED(forMonitor(primary, effectiveDpi, &x, &y)) && x) return x;
    }
    return screenDpi();
}

int scaledToDpi(int length, unsigned dpi, unsigned from) {
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(from));
}

int systemMetricForDpi(int index, unsigned dpi) {
    static const auto forDpi = user32Function<MetricsForDpi>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    // One DPI for everything: the system's own metrics are already at it.
    return GetSystemMetrics(index);
}

void keepDialogControlPlaceAtDpiChange(HWND control) {
    static const auto behaviour = user32Function<ControlDpiBehaviour>("SetDialogControlDpiChangeBehavior");
    constexpr int disableRelayout = 0x2;  // DCDC_DISABLE_RELAYOUT
    if (behaviour) behaviour(control, disableRelayout, disableRelayout);
}

}  // namespace qn::win32

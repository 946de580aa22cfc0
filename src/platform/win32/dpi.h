#pragma once
// The DPI the launcher's own windows are laid out for. The manifest makes the process per-monitor
// aware, so the system stretches none of its windows: pixel sizes follow the DPI of the monitor a
// window is on. Windows before 10 (1607) have one DPI for every monitor, the screen's.

#include "platform/win32/windows_h.h"

namespace qn::win32 {

constexpr unsigned kDefaultDpi = 96;

/// The DPI of the monitor `window` is on.
unsigned dpiOfWindow(HWND window);
/// The DPI of the primary monitor.
unsigned primaryMonitorDpi();
/// A length meant for `from` DPI (96 unless named), at `dpi`.
int scaledToDpi(int length, unsigned dpi, unsigned from = kDefaultDpi);
/// GetSystemMetrics for a window at `dpi`, where the system can tell metrics per DPI.
int systemMetricForDpi(int index, unsigned dpi);
/// From Windows 10 (1703) on, the dialog manager keeps its hands off the place of `control` at a
/// new DPI (its dialog lays it out) and still gives it the font of that DPI; before, nothing.
void keepDialogControlPlaceAtDpiChange(HWND control);

}  // namespace qn::win32

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
/// A length meant for 96 DPI, at `dpi`.
int scaledToDpi(int length, unsigned dpi);
/// GetSystemMetrics for a window at `dpi`, where the system can tell metrics per DPI.
int systemMetricForDpi(int index, unsigned dpi);

}  // namespace qn::win32

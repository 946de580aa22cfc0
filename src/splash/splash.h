#pragma once
// Choosing and closing the splash screen.

namespace qn {

class Launcher;

/// Shows the configured splash; false only when the configuration path cannot be formed.
bool startSplash(Launcher& launcher);
/// Calls the runtime splash library's close function once, when it was opened.
void closeNativeSplash(Launcher& launcher);
/// Ends the splash window's thread and drops the window; nothing when there is none.
void closeSplashWindow(Launcher& launcher);

}  // namespace qn

#pragma once
// Choosing, starting and closing the splash screen: the runtime's own splash library or the
// launcher's splash window on a thread of its own.

#include <cstdint>
#include <string>

namespace qn {

class Launcher;

/// Shows the configured splash; false only when the configuration path cannot be formed.
bool startSplash(Launcher& launcher);
/// The runtime's splash library beside the runtime library, or empty when it is not there.
std::string nativeSplashLibraryPath(const std::string& jvmLibraryPath);
/// Opens the picture through the runtime's splash library; false when the library cannot be
/// loaded or lacks an entry point, so that the own window is shown instead.
bool startNativeSplash(const std::string& libraryPath, Launcher& launcher,
                       bool* pictureLoaded = nullptr);
/// Calls the runtime splash library's close function once, when it was opened.
void closeNativeSplash(Launcher& launcher);
/// Body of the splash thread; the parameter is the Launcher. Exit code 0.
std::uint32_t runSplashThread(void* launcher);
/// Ends the splash window's thread and drops the window; nothing when there is none.
void closeSplashWindow(Launcher& launcher);

}  // namespace qn

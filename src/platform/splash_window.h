#pragma once
// The launcher's own splash window, on a thread of its own: a Windows window, or on Linux a
// window of the launcher's window helper.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace qn::platform {

class SplashWindow;  // defined by each backend
struct SplashWindowDeleter {
    void operator()(SplashWindow* window) const;  // deletes the rendered picture
};
using SplashWindowPtr = std::unique_ptr<SplashWindow, SplashWindowDeleter>;

/// A splash window object with no window yet; null when it cannot be made.
SplashWindowPtr newSplashWindow();
/// On the splash thread: loads the picture, creates the window centred on the primary screen and
/// renders the picture once. Gives the window's handle, or null when no window could be created.
WindowHandle createSplashWindow(SplashWindow& window, const std::string& picturePath, bool shadow);
/// On the splash thread: shows the window, runs the thread's message loop until the quit message,
/// then destroys the window.
void runSplashWindow(SplashWindow& window);
/// Posts the quit message to the thread's queue (it may not have one yet; the caller repeats).
void postSplashQuit(std::uint32_t threadId);

}  // namespace qn::platform

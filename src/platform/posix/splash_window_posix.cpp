// POSIX shows no splash window of its own; the core never starts the splash thread here.
#include "platform/splash_window.h"

namespace qn::platform {

class SplashWindow {};

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

SplashWindowPtr newSplashWindow() { return nullptr; }

WindowHandle createSplashWindow(SplashWindow&, const std::string&, bool) { return nullptr; }

void runSplashWindow(SplashWindow&) {}

void postSplashQuit(std::uint32_t) {}

}  // namespace qn::platform

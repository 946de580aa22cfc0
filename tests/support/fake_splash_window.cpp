// The fake splash backend: records what the core asks of it; no window, no message loop.
#include <string>

#include "fake_platform.h"
#include "platform/native_splash.h"
#include "platform/splash_window.h"

namespace qn::platform {

class SplashWindow {};

namespace {
void record(std::string event) { fake::system().splashEvents.push_back(std::move(event)); }
}  // namespace

void SplashWindowDeleter::operator()(SplashWindow* window) const {
    record("delete");
    delete window;
}

SplashWindowPtr newSplashWindow() {
    if (fake::system().refuseSplashWindow) return nullptr;
    record("new");
    return SplashWindowPtr(new SplashWindow);
}

WindowHandle createSplashWindow(SplashWindow&, const std::string& picturePath, bool shadow) {
    record("create " + picturePath + (shadow ? " shadow" : " plain"));
    return fake::system().splashWindowHandle;
}

// The quit message is taken as already posted: the loop ends at once.
void runSplashWindow(SplashWindow&) { record("run"); }

void postSplashQuit(std::uint32_t threadId) { record("quit " + std::to_string(threadId)); }

void* loadNativeSplashLibrary(const std::string& path, const std::string& runtimeLibrary) {
    fake::system().splashLibraryLoads.push_back(path + " after " + runtimeLibrary);
    const auto it = fake::system().libraries.find(path);
    return it == fake::system().libraries.end() ? nullptr : &it->second;
}

}  // namespace qn::platform

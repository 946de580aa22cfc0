// The launcher's own splash window on Linux, shown by the window helper (window_helper.h): the
// splash thread starts it, waits for the quit signal, then closes the helper's socket.
#include "platform/splash_window.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/posix/window_helper.h"
#include "trace/trace.h"

namespace qn::platform {

class SplashWindow {
public:
    explicit SplashWindow(int quitSignal) : quitSignal(quitSignal) {}
    ~SplashWindow() { ::close(quitSignal); }
    SplashWindow(const SplashWindow&) = delete;
    SplashWindow& operator=(const SplashWindow&) = delete;

    WindowHelper helper;
    const int quitSignal;  // an eventfd: any count means quit
};

namespace {

// One splash per process; the quit message goes to the thread, which the id alone cannot reach.
std::atomic<int> currentQuitSignal{-1};

}  // namespace

void SplashWindowDeleter::operator()(SplashWindow* window) const {
    if (!window) return;
    currentQuitSignal.store(-1);
    delete window;
}

SplashWindowPtr newSplashWindow() {
    // Wayland lets no client place its window in the centre; through X11 (XWayland too) it can.
    if (!variableIsSet("DISPLAY")) {
        trace::line("splash", variableIsSet("WAYLAND_DISPLAY") ? "no own window: Wayland without X11 cannot place it"
                                                       : "no own window: no display");
        return nullptr;
    }
    const int quitSignal = ::eventfd(0, EFD_CLOEXEC);
    if (quitSignal < 0) return nullptr;
    currentQuitSignal.store(quitSignal);
    return SplashWindowPtr(new SplashWindow(quitSignal));
}

WindowHandle createSplashWindow(SplashWindow& window, const std::string& picturePath, bool) {
    // No drop shadow here: the desktop's compositor draws a window's shadow, if any.
    if (!window.helper.open("splash", {picturePath})) return nullptr;
    const std::optional<Fields> answer = window.helper.receive();
    if (!answer) return nullptr;
    if (trace::enabled()) {
        trace::line("splash", (*answer)[0] == "shown" && answer->size() >= 3
                                  ? "own window shown, " + (*answer)[1] + " by " + (*answer)[2] + " pixels"
                                  : std::string("own window empty: the picture does not load"));
    }
    return (*answer)[0] == "shown" ? &window : nullptr;
}

void runSplashWindow(SplashWindow& window) {
    std::uint64_t count = 0;
    while (::read(window.quitSignal, &count, sizeof count) < 0 && errno == EINTR) {
    }
    window.helper.close();
}

void postSplashQuit(std::uint32_t) {
    const int quitSignal = currentQuitSignal.load();
    if (quitSignal < 0) return;
    const std::uint64_t one = 1;
    // The counter cannot overflow in any real number of posts; a failed write is posted again.
    [[maybe_unused]] const ssize_t written = ::write(quitSignal, &one, sizeof one);
}

}  // namespace qn::platform

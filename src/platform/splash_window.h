#pragma once
// The launcher's own splash window (a Windows window on a thread of its own; absent on POSIX).

#include <memory>

namespace qn::platform {

class SplashWindow;  // defined by each backend
struct SplashWindowDeleter {
    void operator()(SplashWindow* window) const;
};
using SplashWindowPtr = std::unique_ptr<SplashWindow, SplashWindowDeleter>;

}  // namespace qn::platform

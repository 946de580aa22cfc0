// Placeholder until the splash window arrives: the type exists so the Launcher can own one.
#include "platform/splash_window.h"

namespace qn::platform {

class SplashWindow {};

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

}  // namespace qn::platform

// No own splash window on POSIX.
#include "platform/splash_window.h"

namespace qn::platform {

class SplashWindow {};

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

}  // namespace qn::platform

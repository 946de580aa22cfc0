// The unit tests show no splash window.
#include "platform/splash_window.h"

namespace qn::platform {

class SplashWindow {};

void SplashWindowDeleter::operator()(SplashWindow* window) const { delete window; }

}  // namespace qn::platform

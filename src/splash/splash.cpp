#include "splash/splash.h"

#include "launcher/launcher.h"

namespace qn {

// The splash arrives with the splash work; until then no splash is shown.
bool startSplash(Launcher&) { return true; }

void closeNativeSplash(Launcher& launcher) {
    if (auto close = launcher.nativeSplashClose) {
        launcher.nativeSplashClose = nullptr;
        close();
    }
}

void closeSplashWindow(Launcher& launcher) {
    launcher.splashWindow.reset();
    launcher.splashThread.reset();
}

}  // namespace qn

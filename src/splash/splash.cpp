#include "splash/splash.h"

#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "platform/native_splash.h"
#include "trace/trace.h"

namespace qn {

namespace {

using SplashInitProc = void (*)();
using SplashLoadFileProc = int (*)(const char*);
using SplashSetFileJarNameProc = void (*)(const char*, const char*);

void* entryPoint(void* library, const char* name) {
    std::uint32_t errorCode = 0;
    return platform::librarySymbol(library, name, errorCode);
}

void startSplashWindow(Launcher& launcher) {
    launcher.splashWindow = platform::newSplashWindow();
    if (!launcher.splashWindow) return;
    launcher.splashThread = platform::startThread(0, runSplashThread, &launcher);
    if (!launcher.splashThread) {
        // Nothing will ever show it; dropping it now keeps closeSplashWindow from waiting.
        launcher.splashWindow.reset();
        return;
    }
    launcher.splashThreadId = platform::threadId(*launcher.splashThread);
}

}  // namespace

std::string nativeSplashLibraryPath(const std::string& jvmLibraryPath) {
    // home\bin\client\jvm.dll gives home\bin; home/lib/server/libjvm.so gives home/lib.
    std::string folder = platform::conventions().withoutComponents(jvmLibraryPath, 2);
    if (folder.empty()) return {};
    const char separator = platform::conventions().pathSeparator;
    if (folder.back() != separator && folder.back() != '/') folder += separator;
    const std::string library = folder + platform::conventions().nativeSplashLibrary;
    return platform::pathExists(library) ? library : std::string();
}

bool startNativeSplash(const std::string& libraryPath, Launcher& launcher, bool* pictureLoaded) {
    void* library = platform::loadNativeSplashLibrary(libraryPath, launcher.jvmLibraryPath);
    if (!library) return false;
    const auto init = reinterpret_cast<SplashInitProc>(entryPoint(library, "SplashInit"));
    const auto loadFile = reinterpret_cast<SplashLoadFileProc>(entryPoint(library, "SplashLoadFile"));
    const auto setFileJarName =
        reinterpret_cast<SplashSetFileJarNameProc>(entryPoint(library, "SplashSetFileJarName"));
    const auto close = reinterpret_cast<NativeSplashCloseProc>(entryPoint(library, "SplashClose"));
    closeNativeSplash(launcher);
    launcher.nativeSplashClose = close;
    if (!init || !loadFile || !setFileJarName) return false;
    init();
    // A picture the library cannot show still counts as started; its result only tells the trace.
    const int loaded = loadFile(launcher.splashImagePath.c_str());
    if (pictureLoaded) *pictureLoaded = loaded != 0;
    setFileJarName(launcher.splashImagePath.c_str(), "");
    return true;
}

void closeNativeSplash(Launcher& launcher) {
    if (auto close = launcher.nativeSplashClose) {
        launcher.nativeSplashClose = nullptr;
        close();
    }
}

bool startSplash(Launcher& launcher) {
    const std::string file = configFilePath(launcher);
    if (file.empty()) return false;
    launcher.splashImagePath = readProfileString(file, keys::display, keys::splashScreen);
    launcher.splashShadowText = readProfileString(file, keys::display, keys::splashScreenShadow);
    const bool nativeAsked =
        equalsIgnoringCase(readProfileString(file, keys::display, keys::preferNativeSplash), "Yes");
    if (launcher.splashImagePath.empty()) {
        trace::line("splash", "none: no picture configured");
        return true;
    }

    // The runtime's library only when asked for; the own window when it cannot be had.
    if (nativeAsked) {
        const std::string library = nativeSplashLibraryPath(launcher.jvmLibraryPath);
        bool loaded = false;
        if (!library.empty() && startNativeSplash(library, launcher, &loaded)) {
            if (trace::enabled()) {
                trace::line("splash", "the runtime's library " + library +
                                          (loaded ? " shows " + launcher.splashImagePath
                                                  : " cannot show " + launcher.splashImagePath +
                                                        " (it shows GIF, PNG and JPEG files that exist)"));
            }
            return true;
        }
        if (trace::enabled()) {
            trace::line("splash", library.empty() ? "no splash library beside the runtime"
                                                  : "the runtime's library " + library + " did not start");
        }
    }
    startSplashWindow(launcher);
    if (trace::enabled()) {
        trace::line("splash", launcher.splashWindow ? "own window shows " + launcher.splashImagePath
                                                    : std::string("none: the own window could not be made"));
    }
    return true;
}

std::uint32_t runSplashThread(void* parameter) {
    auto& launcher = *static_cast<Launcher*>(parameter);
    platform::SplashWindow& window = *launcher.splashWindow;
    const bool shadow = launcher.splashShadowText == "true";
    // Written once, here; error boxes shown from now on are owned by the splash.
    if (platform::WindowHandle handle =
            platform::createSplashWindow(window, launcher.splashImagePath, shadow)) {
        launcher.messageOwner = handle;
    }
    platform::runSplashWindow(window);
    return 0;
}

void closeSplashWindow(Launcher& launcher) {
    if (!launcher.splashWindow) return;
    if (launcher.splashThread) {
        // The thread may not have a message queue yet, or may be busy decoding: post until it ends.
        do {
            platform::postSplashQuit(launcher.splashThreadId);
        } while (platform::threadIsActive(*launcher.splashThread));
    }
    launcher.splashThread.reset();
    launcher.splashWindow.reset();
    // messageOwner keeps the old handle; only the splash thread ever writes it.
}

}  // namespace qn

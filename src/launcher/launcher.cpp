#include "launcher/launcher.h"

#include "instance/single_instance.h"
#include "launcher/command_line.h"
#include "launcher/settings.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_search.h"
#include "splash/splash.h"
#include "vm/main_invocation.h"
#include "vm/runtime_library.h"
#include "vm/vm_options.h"

namespace qn {

bool Launcher::prepare() {
    readCommandLine(*this);
    if (!readSettings(*this)) return false;
    if (!setUpSingleInstance(*this)) return false;
    // A later instance has handed its arguments over: no working folder, no runtime search.
    if (isSecondaryInstance()) return true;
    // Before the search, which may try paths relative to the current folder.
    if (overrideWorkingDir) setWorkingFolder(*this);
    if (findRuntime(*this)) return true;
    return resolveMissingRuntime(*this);
}

std::int32_t Launcher::run() {
    if (isSecondaryInstance()) return waitForFirstInstance(*this);
    setNativeSearchPaths(*this);
    if (findArgument(arguments, "-nosplash") < 0 && findArgument(arguments, "/nosplash") < 0) {
        // It fails only after reporting that the launcher's own path is unknown; the program
        // has not run, so that is a failure like any other.
        if (!startSplash(*this)) return -1;
    }
    if (!loadRuntimeLibrary(*this)) return -1;
    if (!assembleVmOptions(*this)) return -1;
    if (runJavaMainThread(*this) == 0) return 0;
    // A failed start must not leave the runtime's splash picture behind.
    closeNativeSplash(*this);
    return -1;
}

Launcher::~Launcher() {
    closeSplashWindow(*this);
    destroyJavaVm(*this);
    endSingleInstance(*this);
    mainStartedEvent.reset();
    closeNativeSplash(*this);
}

std::int32_t runLauncher() {
    std::int32_t exitCode = -1;
    {
        Launcher launcher;
        platform::useSystemLocale();
        if (launcher.prepare()) exitCode = launcher.run();
    }
    return exitCode;
}

}  // namespace qn

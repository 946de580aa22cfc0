#include "launcher/launcher.h"

#include "instance/single_instance.h"
#include "launcher/command_line.h"
#include "launcher/settings.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_search.h"
#include "splash/splash.h"
#include "trace/trace.h"
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
    } else {
        trace::line("splash", "none: the command line asks for none");
    }
    if (!loadRuntimeLibrary(*this)) return -1;
    if (!assembleVmOptions(*this)) return -1;
    if (runJavaMainThread(*this) == 0) {
        // Read after the thread has ended; where the program has a console, the runtime's own
        // command ends such a run with 1.
        return mainThrew ? platform::conventions().uncaughtExceptionExitCode : 0;
    }
    // A failed start must not leave the runtime's splash picture behind.
    closeNativeSplash(*this);
    return -1;
}

Launcher::~Launcher() {
    if (splashWindow) trace::line("teardown", "closing the splash window");
    closeSplashWindow(*this);
    if (javaVm) trace::line("teardown", "destroying the VM: waits for the program's other threads");
    destroyJavaVm(*this);
    if (singleInstance) trace::line("teardown", "ending single instance");
    endSingleInstance(*this);
    mainStartedEvent.reset();
    if (nativeSplashClose) trace::line("teardown", "closing the runtime's splash");
    closeNativeSplash(*this);
    trace::line("teardown", "done");
}

std::int32_t runLauncher() {
    std::int32_t exitCode = -1;
    {
        Launcher launcher;
        platform::useSystemLocale();
        if (launcher.prepare()) {
            exitCode = launcher.run();
            if (trace::enabled()) trace::line("launcher", "run ended with " + std::to_string(exitCode));
        } else {
            trace::line("launcher", "preparation failed");
        }
    }
    if (trace::enabled()) trace::line("launcher", "exit code " + std::to_string(exitCode));
    return exitCode;
}

}  // namespace qn

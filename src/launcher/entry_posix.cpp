// The Linux entry point.
#include <cstdlib>

#include "launcher/launcher.h"
#include "platform/posix/process_arguments.h"
#include "platform/posix/window_helper.h"

int main(int argc, char** argv) {
    // The launcher started again to show one of its windows (see window_helper.h).
    if (const char* window = std::getenv("QN_WINDOW_HELPER")) {
        return qn::platform::runWindowHelper(window, argc, argv);
    }
    qn::platform::setProcessArguments(argc, argv);
    return qn::runLauncher();
}

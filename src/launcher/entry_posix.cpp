// The Linux entry point.
#include "launcher/launcher.h"
#include "platform/posix/process_arguments.h"

int main(int argc, char** argv) {
    qn::platform::setProcessArguments(argc, argv);
    return qn::runLauncher();
}

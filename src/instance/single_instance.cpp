#include "instance/single_instance.h"

#include "launcher/launcher.h"

namespace qn {

// Coordination arrives with the single-instance work; until then every start runs on its own.
bool setUpSingleInstance(Launcher&) { return true; }

std::int32_t waitForFirstInstance(Launcher&) { return -1; }

void endSingleInstance(Launcher& launcher) { launcher.mainStartedEvent.reset(); }

}  // namespace qn

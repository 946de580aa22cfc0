// Windows runtimes are registered, not found as folders.
#include "platform/installed_runtimes.h"

namespace qn::platform {

std::vector<InstalledRuntime> installedRuntimes() { return {}; }

}  // namespace qn::platform

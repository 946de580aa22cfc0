#include "runtime/missing_runtime.h"

#include <algorithm>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/settings.h"
#include "platform/dialogs.h"
#include "res/resource_ids.h"
#include "runtime/runtime_search.h"
#include "vm/launcher_error.h"

namespace qn {

namespace {

// The flavour lookup of the runtime search, for the folder the user picked.
std::string jvmLibraryIn(const std::string& home, JvmType jvmType) {
    const PlatformConventions& conventions = platform::conventions();
    std::vector<JvmFlavour> order =
        jvmType == JvmType::ServerOnly ? conventions.serverOnlyFlavours : conventions.clientFirstFlavours;
    if (jvmType == JvmType::ServerFirst) {
        std::stable_partition(order.begin(), order.end(), [](const JvmFlavour& f) { return f.isServer; });
    }
    for (const JvmFlavour& flavour : order) {
        const std::string path = home + flavour.relativePath;
        if (platform::pathExists(path)) return path;
    }
    return {};
}

}  // namespace

std::string missingRuntimeMessage(const Launcher& launcher) {
    const int id = launcher.jvmType == JvmType::ServerOnly ? IDS_JRE_NOT_FOUND_SERVER : IDS_JRE_NOT_FOUND;
    return formatError(
        LauncherError(id, describeVersionRequirement(launcher.minimumVersion, launcher.maximumVersion)));
}

bool resolveMissingRuntime(Launcher& launcher) {
    const JvmType jvmType = launcher.jvmType;
    const auto chosen = platform::askForRuntimeFolder(
        missingRuntimeMessage(launcher),
        [jvmType](const std::string& folder) { return jvmLibraryIn(folder, jvmType); });
    // A choice without a library would leave the run phase nothing to load.
    if (!chosen || chosen->jvmLibrary.empty()) return false;
    launcher.jvmLibraryPath = chosen->jvmLibrary;
    // The folder the user picked is used whatever its version; remembering it may fail silently.
    rememberJrePath(launcher, chosen->folder);
    return true;
}

}  // namespace qn

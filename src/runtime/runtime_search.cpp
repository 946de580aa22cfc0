#include "runtime/runtime_search.h"

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace qn {

namespace {

std::size_t lastSeparator(const std::string& path) {
    const char separator = platform::conventions().pathSeparator;
    std::size_t found = std::string::npos;
    for (std::size_t i = 0; i < path.size(); i = platform::nextCharacter(path, i)) {
        if (path[i] == separator) found = i;
    }
    return found;
}

}  // namespace

std::string findJvmLibrary(const std::string& home, JvmType type, bool& isServer) {
    const PlatformConventions& conventions = platform::conventions();
    std::vector<const JvmFlavour*> order;
    if (type == JvmType::ServerOnly) {
        for (const JvmFlavour& flavour : conventions.serverOnlyFlavours) order.push_back(&flavour);
    } else {
        if (type == JvmType::ServerFirst) {
            for (const JvmFlavour& flavour : conventions.serverOnlyFlavours) order.push_back(&flavour);
        }
        for (const JvmFlavour& flavour : conventions.clientFirstFlavours) order.push_back(&flavour);
    }
    for (const JvmFlavour* flavour : order) {
        const std::string candidate = home + flavour->relativePath;
        if (platform::pathExists(candidate)) {
            isServer = flavour->isServer;
            return candidate;
        }
    }
    return {};
}

// Only the configured folder is searched here so far; the local runtime and the registered
// runtimes arrive with the runtime discovery work.
bool findRuntime(Launcher& launcher) {
    if (!launcher.jvmLibraryPath.empty()) return true;
    if (!launcher.configuredJrePath.empty()) {
        bool isServer = false;
        launcher.jvmLibraryPath = findJvmLibrary(
            platform::conventions().withTrailingSeparator(launcher.configuredJrePath), launcher.jvmType,
            isServer);
        if (!launcher.jvmLibraryPath.empty()) return true;
    }
    return false;
}

void publishRuntimeEnvironment(const Launcher& launcher) {
    platform::setEnvironmentVariable("QN_JVM_PATH", launcher.jvmLibraryPath);
    // Three parts off the library path: C:\Java\jre6\bin\client\jvm.dll gives C:\Java\jre6.
    std::string home = launcher.jvmLibraryPath;
    for (int i = 0; i < 3; ++i) {
        const std::size_t cut = lastSeparator(home);
        if (cut == std::string::npos) break;
        home.erase(cut);
    }
    platform::setEnvironmentVariable("QN_JVM_HOME", home);
}

}  // namespace qn

#include "runtime/runtime_search.h"

#include <algorithm>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "runtime/library_image.h"
#include "runtime/runtime_sources.h"
#include "trace/trace.h"
#include "vm/launcher_error.h"

namespace qn {

namespace {

/// Whether the file at `path` can be loaded into this process: a readable library image built
/// for another machine cannot; any other file is judged by its existence alone.
std::optional<ImageMachine> otherMachine(const std::string& path) {
    const std::optional<std::string> header = platform::readFileHead(path, imageHeaderSize);
    if (!header) return std::nullopt;
    const std::optional<ImageMachine> machine = imageMachine(*header);
    if (!machine || sameMachine(*machine, platform::ownImageMachine())) return std::nullopt;
    return machine;
}

/// The flavour lists a lookup of this type tries, in order.
std::vector<const std::vector<JvmFlavour>*> probedFlavours(JvmType type) {
    const PlatformConventions& conventions = platform::conventions();
    switch (type) {
        case JvmType::ServerOnly: return {&conventions.serverOnlyFlavours};
        case JvmType::ServerFirst: return {&conventions.serverOnlyFlavours, &conventions.clientFirstFlavours};
        case JvmType::ClientFirst: break;
    }
    return {&conventions.clientFirstFlavours};
}

/// The launcher's folder with a trailing separator (empty when its path has no separator);
/// nothing, with the system's error code, when its path is unknown.
std::optional<std::string> moduleFolder(std::uint32_t& errorCode) {
    std::string modulePath;
    if (!platform::moduleFileName(modulePath, errorCode)) return std::nullopt;
    const std::size_t separator = platform::conventions().lastSeparator(modulePath);
    return separator == std::string::npos ? std::string() : modulePath.substr(0, separator + 1);
}

void traceCandidates(const std::vector<RuntimeCandidate>& candidates, const RuntimeCandidate& chosen) {
    for (const RuntimeCandidate& candidate : candidates) {
        trace::line("runtime", candidate.origin + (&candidate == &chosen ? ": chosen" : ": passed over: lower rank"));
    }
}

}  // namespace

JvmLibraryLookup lookupJvmLibrary(const std::string& home, JvmType type) {
    JvmLibraryLookup lookup;
    auto tryFlavours = [&](const std::vector<JvmFlavour>& flavours) {
        for (const JvmFlavour& flavour : flavours) {
            std::string path = home + flavour.relativePath;
            if (!platform::pathExists(path)) continue;
            if (const std::optional<ImageMachine> other = otherMachine(path)) {
                if (lookup.otherMachinePath.empty()) {
                    lookup.otherMachinePath = path;
                    lookup.otherMachineBits = other->bits;
                }
                continue;
            }
            lookup.path = std::move(path);
            lookup.isServer = flavour.isServer;
            return true;
        }
        return false;
    };
    for (const std::vector<JvmFlavour>* flavours : probedFlavours(type)) {
        if (tryFlavours(*flavours)) break;
    }
    return lookup;
}

std::string flavourNames(JvmType type) {
    std::vector<std::string> names;
    for (const std::vector<JvmFlavour>* flavours : probedFlavours(type)) {
        for (const JvmFlavour& flavour : *flavours) {
            if (std::find(names.begin(), names.end(), flavour.relativePath) == names.end()) {
                names.push_back(flavour.relativePath);
            }
        }
    }
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string findJvmLibrary(const std::string& home, JvmType type, bool& isServer) {
    JvmLibraryLookup lookup = lookupJvmLibrary(home, type);
    if (!lookup.path.empty()) isServer = lookup.isServer;
    return std::move(lookup.path);
}

std::string findJvmLibrary(const std::string& home, JvmType type) {
    bool isServer = false;
    return findJvmLibrary(home, type, isServer);
}

std::optional<std::string> findLocalRuntime(const Launcher& launcher) {
    std::uint32_t errorCode = 0;
    const std::optional<std::string> folder = moduleFolder(errorCode);
    if (!folder) {
        reportModulePathError(errorCode, launcher.messageOwner);
        return std::nullopt;
    }
    const PlatformConventions& conventions = platform::conventions();
    const std::string& applicationFolder = *folder;
    if (platform::pathExists(applicationFolder + conventions.localRuntimeMarker)) return applicationFolder;
    const std::string bundled = applicationFolder + conventions.localRuntimeFolder;
    if (platform::pathExists(bundled + conventions.localRuntimeMarker)) return bundled;
    // The last chance is a runtime library right in the application folder. It is looked for
    // there, never in the current folder: opening a document from a download folder makes that
    // folder current, and a library planted in it must not be loaded.
    return applicationFolder;
}

std::vector<RuntimeCandidate> collectCandidates(const Launcher& launcher) {
    std::vector<RuntimeCandidate> candidates;
    scanRuntimeSources(launcher, candidates);
    return candidates;
}

void sortCandidates(const Launcher& launcher, std::vector<RuntimeCandidate>& candidates) {
    const bool byPreference = launcher.bothKinds;
    const bool byServer = launcher.jvmType == JvmType::ServerFirst;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const RuntimeCandidate& a, const RuntimeCandidate& b) {
                         if (byPreference && a.isPreferred != b.isPreferred) return a.isPreferred;
                         if (byServer && a.isServer != b.isServer) return a.isServer;
                         return JavaVersion::compare(a.version, b.version) > 0;
                     });
}

const RuntimeCandidate& chooseCandidate(const Launcher& launcher,
                                        const std::vector<RuntimeCandidate>& candidates) {
    for (const std::string& entry : launcher.preferredVersions) {
        const JavaVersion pattern = JavaVersion::parsed(entry, 0);
        for (const RuntimeCandidate& candidate : candidates) {
            if (JavaVersion::matches(candidate.version, pattern)) return candidate;
        }
    }
    return candidates.front();
}

namespace {

/// One folder the search takes as it is: the library in it, or why none.
bool takeFolder(Launcher& launcher, const std::string& home, const char* what) {
    const JvmLibraryLookup lookup = lookupJvmLibrary(home, launcher.jvmType);
    launcher.jvmLibraryPath = lookup.path;
    launcher.legacyIbmRuntime = !lookup.path.empty() && isLegacyIbmHome(home, lookup.path);
    if (trace::enabled()) {
        std::string text = std::string(what) + " " + (home.empty() ? std::string("(current folder)") : home);
        if (!lookup.path.empty()) {
            text += ": chosen " + lookup.path;
        } else if (!lookup.otherMachinePath.empty()) {
            text += ": passed over: other bitness (" + std::to_string(lookup.otherMachineBits) + "-bit " +
                    lookup.otherMachinePath + ")";
        } else {
            text += ": passed over: no flavour (looked for " + flavourNames(launcher.jvmType) + ")";
        }
        trace::line("runtime", text);
    }
    return !lookup.path.empty();
}

/// The configured runtime folder as a home: a relative one is the application folder's, as a
/// relative class-path entry is, never the working folder's. Nothing when the launcher's own path
/// is unknown (the next step reports that).
std::optional<std::string> configuredHome(const std::string& configured) {
    const PlatformConventions& conventions = platform::conventions();
    std::string folder = configured;
    if (!conventions.isAbsolute(configured) || conventions.isDriveRelative(configured)) {
        std::uint32_t errorCode = 0;
        const std::optional<std::string> application = moduleFolder(errorCode);
        if (!application) return std::nullopt;
        folder = conventions.inFolder(*application, configured);
    }
    return conventions.withTrailingSeparator(folder);
}

}  // namespace

bool findRuntime(Launcher& launcher) {
    if (!launcher.configuredJrePath.empty()) {
        const std::optional<std::string> home = configuredHome(launcher.configuredJrePath);
        if (home && takeFolder(launcher, *home, "JRE Path")) {
            // The library that was checked is the one to load, named in full.
            launcher.jvmLibraryPath = platform::fullPath(launcher.jvmLibraryPath);
            return true;
        }
    }
    if (const std::optional<std::string> home = findLocalRuntime(launcher)) {
        if (takeFolder(launcher, *home, "local runtime")) return true;
    }
    std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    if (candidates.empty()) {
        if (trace::enabled()) trace::line("runtime", "no runtime found");
        return false;
    }
    sortCandidates(launcher, candidates);
    const RuntimeCandidate& chosen = chooseCandidate(launcher, candidates);
    if (trace::enabled()) traceCandidates(candidates, chosen);
    launcher.runtimeVersion = chosen.version;
    launcher.legacyIbmRuntime = chosen.isLegacyIbm;
    launcher.jvmLibraryPath = findJvmLibrary(chosen.home, launcher.jvmType);
    if (trace::enabled()) trace::line("runtime", "library " + launcher.jvmLibraryPath);
    return !launcher.jvmLibraryPath.empty();
}

void publishRuntimeEnvironment(const Launcher& launcher) {
    platform::setEnvironmentVariable("QN_JVM_PATH", launcher.jvmLibraryPath);
    // Three parts off the library path: C:\Java\jre6\bin\client\jvm.dll gives C:\Java\jre6.
    platform::setEnvironmentVariable("QN_JVM_HOME",
                                     platform::conventions().withoutComponents(launcher.jvmLibraryPath, 3));
}

}  // namespace qn

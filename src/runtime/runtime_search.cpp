#include "runtime/runtime_search.h"

#include <algorithm>

#include "launcher/launcher.h"
#include "platform/installed_runtimes.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "vm/launcher_error.h"

namespace qn {

namespace {

enum class RuntimeKind { Jdk, Jre };
enum class Vendor { JavaSoft, JRockit, Ibm };

struct VendorKey {
    const char* path;
    RuntimeKind kind;
    Vendor vendor;
};

// In scan order: JRockit's JRE key comes before its JDK key, unlike JavaSoft's.
constexpr VendorKey vendorKeys[] = {
    {"Software\\JavaSoft\\Java Development Kit\\", RuntimeKind::Jdk, Vendor::JavaSoft},
    {"Software\\JavaSoft\\Java Runtime Environment\\", RuntimeKind::Jre, Vendor::JavaSoft},
    {"Software\\JRockit\\Java Runtime Environment\\", RuntimeKind::Jre, Vendor::JRockit},
    {"Software\\JRockit\\Java Development Kit\\", RuntimeKind::Jdk, Vendor::JRockit},
    {"Software\\IBM\\Java2 Runtime Environment\\", RuntimeKind::Jre, Vendor::Ibm},
};
constexpr std::size_t javaSoftJreKey = 1;

bool vendorAllowed(const Launcher& launcher, Vendor vendor) {
    switch (vendor) {
        case Vendor::JavaSoft: return launcher.javaSoftAllowed || launcher.javaSoftFavored;
        case Vendor::JRockit: return launcher.jrockitAllowed || launcher.jrockitFavored;
        case Vendor::Ibm: return launcher.ibmAllowed || launcher.ibmFavored;
    }
    return false;
}

bool vendorFavored(const Launcher& launcher, Vendor vendor) {
    switch (vendor) {
        case Vendor::JavaSoft: return launcher.javaSoftFavored;
        case Vendor::JRockit: return launcher.jrockitFavored;
        case Vendor::Ibm: return launcher.ibmFavored;
    }
    return false;
}

bool keyScanned(const Launcher& launcher, const VendorKey& key) {
    const bool kindWanted = key.kind == RuntimeKind::Jdk ? launcher.jdkWanted : launcher.jreWanted;
    return (launcher.bothKinds || kindWanted) && vendorAllowed(launcher, key.vendor);
}

bool isPreferred(const Launcher& launcher, const VendorKey& key) {
    const bool kindWanted = key.kind == RuntimeKind::Jdk ? launcher.jdkWanted : launcher.jreWanted;
    return kindWanted && vendorFavored(launcher, key.vendor);
}

/// The JavaSoft JRE registrations are probed client first even when the server is favoured.
JvmType probeOrder(const Launcher& launcher, std::size_t keyIndex) {
    if (keyIndex == javaSoftJreKey && launcher.jvmType == JvmType::ServerFirst) {
        return JvmType::ClientFirst;
    }
    return launcher.jvmType;
}

/// One registration's home: its "JavaHome" (plus the JDK's runtime folder), and whether it holds
/// a runtime library.
std::optional<RuntimeCandidate> readJavaHome(const Launcher& launcher, std::size_t keyIndex,
                                             const std::string& subkey) {
    const VendorKey& vendorKey = vendorKeys[keyIndex];
    const platform::RegistryKeyPtr key = platform::openMachineKey(vendorKey.path + subkey);
    if (!key) return std::nullopt;
    const std::optional<std::string> javaHome = platform::stringValue(*key, "JavaHome");
    if (!javaHome || javaHome->empty()) return std::nullopt;
    RuntimeCandidate candidate;
    candidate.home = platform::conventions().withTrailingSeparator(*javaHome);
    if (vendorKey.kind == RuntimeKind::Jdk) candidate.home += platform::conventions().jdkRuntimeSuffix;
    if (findJvmLibrary(candidate.home, probeOrder(launcher, keyIndex), candidate.isServer).empty()) {
        return std::nullopt;
    }
    return candidate;
}

void scanRegisteredKey(const Launcher& launcher, std::size_t keyIndex,
                       std::vector<RuntimeCandidate>& candidates) {
    std::vector<std::string> names;
    if (const platform::RegistryKeyPtr key = platform::openMachineKey(vendorKeys[keyIndex].path)) {
        names = platform::subkeyNames(*key);
    }
    for (const std::string& name : names) {
        const JavaVersion version = JavaVersion::parsed(name, 0);
        if (!JavaVersion::inRange(version, launcher.minimumVersion, launcher.maximumVersion)) continue;
        std::optional<RuntimeCandidate> candidate = readJavaHome(launcher, keyIndex, name);
        if (!candidate) continue;
        candidate->version = version;
        candidate->isPreferred = isPreferred(launcher, vendorKeys[keyIndex]);
        candidates.push_back(std::move(*candidate));
    }
}

// Without a registry the installed runtime folders stand in for the JavaSoft keys: JDKs for the
// first key, runtimes without a compiler for the second.
void scanInstalledRuntimes(const Launcher& launcher, std::size_t keyIndex,
                           std::vector<RuntimeCandidate>& candidates) {
    const VendorKey& vendorKey = vendorKeys[keyIndex];
    if (vendorKey.vendor != Vendor::JavaSoft) return;
    for (const platform::InstalledRuntime& runtime : platform::installedRuntimes()) {
        if (runtime.isJdk != (vendorKey.kind == RuntimeKind::Jdk)) continue;
        const JavaVersion version = JavaVersion::parsed(runtime.versionText, 0);
        if (!JavaVersion::inRange(version, launcher.minimumVersion, launcher.maximumVersion)) continue;
        RuntimeCandidate candidate;
        candidate.home = runtime.home;
        if (findJvmLibrary(candidate.home, probeOrder(launcher, keyIndex), candidate.isServer).empty()) {
            continue;
        }
        candidate.version = version;
        candidate.isPreferred = isPreferred(launcher, vendorKey);
        candidates.push_back(std::move(candidate));
    }
}

}  // namespace

std::string findJvmLibrary(const std::string& home, JvmType type, bool& isServer) {
    const PlatformConventions& conventions = platform::conventions();
    auto tryFlavours = [&](const std::vector<JvmFlavour>& flavours) -> std::string {
        for (const JvmFlavour& flavour : flavours) {
            std::string path = home + flavour.relativePath;
            if (platform::pathExists(path)) {
                isServer = flavour.isServer;
                return path;
            }
        }
        return {};
    };
    if (type == JvmType::ServerOnly) return tryFlavours(conventions.serverOnlyFlavours);
    if (type == JvmType::ServerFirst) {
        std::string path = tryFlavours(conventions.serverOnlyFlavours);
        if (!path.empty()) return path;
    }
    return tryFlavours(conventions.clientFirstFlavours);
}

std::string findJvmLibrary(const std::string& home, JvmType type) {
    bool isServer = false;
    return findJvmLibrary(home, type, isServer);
}

std::optional<std::string> findLocalRuntime(const Launcher& launcher) {
    std::string modulePath;
    std::uint32_t errorCode = 0;
    if (!platform::moduleFileName(modulePath, errorCode)) {
        reportModulePathError(errorCode, launcher.messageOwner);
        return std::nullopt;
    }
    const PlatformConventions& conventions = platform::conventions();
    const std::size_t separator = conventions.lastSeparator(modulePath);
    const std::string applicationFolder =
        separator == std::string::npos ? std::string() : modulePath.substr(0, separator + 1);
    if (platform::pathExists(applicationFolder + conventions.localRuntimeMarker)) return applicationFolder;
    const std::string bundled = applicationFolder + conventions.localRuntimeFolder;
    if (platform::pathExists(bundled + conventions.localRuntimeMarker)) return bundled;
    // The last chance is a runtime library right in the application folder. It is looked for
    // there, never in the current folder: opening a document from a download folder makes that
    // folder current, and a library planted in it must not be loaded.
    return applicationFolder;
}

void scanRegistryKey(const Launcher& launcher, std::size_t keyIndex,
                     std::vector<RuntimeCandidate>& candidates) {
    if (platform::conventions().style == PathStyle::Windows) {
        scanRegisteredKey(launcher, keyIndex, candidates);
    } else {
        scanInstalledRuntimes(launcher, keyIndex, candidates);
    }
}

std::vector<RuntimeCandidate> collectCandidates(const Launcher& launcher) {
    std::vector<RuntimeCandidate> candidates;
    for (std::size_t i = 0; i < std::size(vendorKeys); ++i) {
        if (keyScanned(launcher, vendorKeys[i])) scanRegistryKey(launcher, i, candidates);
    }
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

bool findRuntime(Launcher& launcher) {
    if (!launcher.configuredJrePath.empty()) {
        launcher.jvmLibraryPath = findJvmLibrary(
            platform::conventions().withTrailingSeparator(launcher.configuredJrePath), launcher.jvmType);
        if (!launcher.jvmLibraryPath.empty()) {
            // A relative folder was checked against the current folder: that library is the one
            // to load, not one the loader would find first in the launcher's folder.
            launcher.jvmLibraryPath = platform::fullPath(launcher.jvmLibraryPath);
            return true;
        }
    }
    if (const std::optional<std::string> home = findLocalRuntime(launcher)) {
        launcher.jvmLibraryPath = findJvmLibrary(*home, launcher.jvmType);
        if (!launcher.jvmLibraryPath.empty()) return true;
    }
    std::vector<RuntimeCandidate> candidates = collectCandidates(launcher);
    if (candidates.empty()) return false;
    sortCandidates(launcher, candidates);
    const RuntimeCandidate& chosen = chooseCandidate(launcher, candidates);
    launcher.runtimeVersion = chosen.version;
    launcher.jvmLibraryPath = findJvmLibrary(chosen.home, launcher.jvmType);
    return !launcher.jvmLibraryPath.empty();
}

void publishRuntimeEnvironment(const Launcher& launcher) {
    platform::setEnvironmentVariable("QN_JVM_PATH", launcher.jvmLibraryPath);
    // Three parts off the library path: C:\Java\jre6\bin\client\jvm.dll gives C:\Java\jre6.
    platform::setEnvironmentVariable("QN_JVM_HOME",
                                     platform::conventions().withoutComponents(launcher.jvmLibraryPath, 3));
}

}  // namespace qn

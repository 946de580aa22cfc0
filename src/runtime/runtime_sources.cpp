#include "runtime/runtime_sources.h"

#include <optional>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "runtime/runtime_scan.h"
#include "text/release_file.h"
#include "trace/trace.h"

namespace qn {

bool kindScanned(const Launcher& launcher, RuntimeKind kind) {
    const bool kindWanted = kind == RuntimeKind::Jdk ? launcher.jdkWanted : launcher.jreWanted;
    return launcher.bothKinds || kindWanted;
}

bool vendorScanned(const Launcher& launcher, VendorFamily vendor) {
    switch (vendor) {
        case VendorFamily::JavaSoft: return launcher.javaSoftAllowed || launcher.javaSoftFavored;
        case VendorFamily::JRockit: return launcher.jrockitAllowed || launcher.jrockitFavored;
        case VendorFamily::Ibm: return launcher.ibmAllowed || launcher.ibmFavored;
    }
    return false;
}

bool isPreferredRuntime(const Launcher& launcher, RuntimeKind kind, VendorFamily vendor) {
    const bool kindWanted = kind == RuntimeKind::Jdk ? launcher.jdkWanted : launcher.jreWanted;
    switch (vendor) {
        case VendorFamily::JavaSoft: return kindWanted && launcher.javaSoftFavored;
        case VendorFamily::JRockit: return kindWanted && launcher.jrockitFavored;
        case VendorFamily::Ibm: return kindWanted && launcher.ibmFavored;
    }
    return false;
}

namespace {

std::string releaseFileValue(const std::string& home, const char* name) {
    const std::optional<std::string> release = platform::readFileHead(home + "release", 16384);
    return release ? releaseValue(*release, name) : std::string();
}

/// A version resource's product version as the runtime numbers itself: Java 8 and older write
/// 8.0.3920.8 for 1.8.0_392 (the update times ten), later ones 17.0.9.0 for 17.0.9.
std::string versionOfResource(const std::string& resource) {
    JavaVersion parsed;
    if (!JavaVersion::parse(resource, 0, parsed) || parsed.count != 4 || parsed.components[0] == 0) return {};
    const auto& c = parsed.components;
    if (c[0] <= 8) return "1." + std::to_string(c[0]) + ".0_" + std::to_string(c[2] / 10);
    return std::to_string(c[0]) + "." + std::to_string(c[1]) + "." + std::to_string(c[2]);
}

}  // namespace

std::string releaseVersion(const std::string& home) { return releaseFileValue(home, "JAVA_VERSION"); }

std::string homeVendor(const std::string& home) { return releaseFileValue(home, "IMPLEMENTOR"); }

std::string homeVersion(const std::string& home, const std::string& library) {
    std::string version = releaseVersion(home);
    if (version.empty() && !library.empty()) version = versionOfResource(platform::productVersion(library).value_or(""));
    return version;
}

bool isLegacyIbm(bool ibm, const std::string& versionText) {
    if (!ibm || versionText.empty()) return false;
    // 1.x reads as x: 1.6.0 and 8.0.5 both count, 11 does not.
    return JavaVersion::compare(JavaVersion::parsed(versionText, 0), JavaVersion::parsed("8", 65535)) <= 0;
}

bool isLegacyIbmHome(const std::string& home, const std::string& library) {
    return isLegacyIbm(homeVendor(home).find("IBM") != std::string::npos, homeVersion(home, library));
}

void Scan::trace(const std::string& text) const { trace::line("runtime", text); }

bool Scan::inRange(const JavaVersion& version) const {
    return JavaVersion::inRange(version, launcher.minimumVersion, launcher.maximumVersion);
}

void Scan::consider(const FoundHome& found) {
    const PlatformConventions& conventions = platform::conventions();
    std::string home = found.registered;
    std::string versionText = found.versionText;
    const auto describe = [&] {
        return "candidate " + (versionText.empty() ? std::string("version unknown") : versionText) + " " +
               (found.kind == RuntimeKind::Jdk ? "JDK " : "JRE ") +
               (found.vendorName.empty() ? std::string("vendor unknown") : found.vendorName) + " " + home + " from " +
               found.where;
    };
    if (!kindScanned(launcher, found.kind)) {
        if (trace::enabled()) trace(describe() + ": passed over: kind filtered");
        return;
    }
    if (!versionText.empty() && !inRange(JavaVersion::parsed(versionText, 0))) {
        if (trace::enabled()) trace(describe() + ": passed over: out of range");
        return;
    }
    // A JDK of Java 8 or older holds its runtime in "jre"; later ones have none.
    const std::string nested =
        found.runtimeFolderFirst && !conventions.jdkRuntimeSuffix.empty() ? home + conventions.jdkRuntimeSuffix : "";
    JvmLibraryLookup library = nested.empty() ? JvmLibraryLookup{} : lookupJvmLibrary(nested, found.probe);
    if (!library.path.empty()) {
        home = nested;
    } else {
        JvmLibraryLookup own = lookupJvmLibrary(home, found.probe);
        if (!own.path.empty() || !own.otherMachinePath.empty()) library = std::move(own);
    }
    if (library.path.empty()) {
        if (trace::enabled()) {
            trace(describe() + (library.otherMachinePath.empty()
                                    ? ": passed over: no flavour (looked for " + flavourNames(found.probe) + " in " +
                                          home + (nested.empty() ? "" : " and " + nested) + ")"
                                    : ": passed over: other bitness (" + std::to_string(library.otherMachineBits) +
                                          "-bit " + library.otherMachinePath + ")"));
        }
        return;
    }
    if (versionText.empty()) {
        versionText = homeVersion(found.registered, library.path);
        if (!inRange(JavaVersion::parsed(versionText, 0))) {
            if (trace::enabled()) trace(describe() + ": passed over: out of range");
            return;
        }
    }
    RuntimeCandidate candidate;
    candidate.version = JavaVersion::parsed(versionText, 0);
    candidate.home = home;
    candidate.isServer = library.isServer;
    candidate.isPreferred = isPreferredRuntime(launcher, found.kind, found.vendor);
    candidate.isLegacyIbm = isLegacyIbm(
        found.vendor == VendorFamily::Ibm || found.vendorName.find("IBM") != std::string::npos, versionText);
    if (trace::enabled()) candidate.origin = describe() + " flavour " + library.path;
    candidates.push_back(std::move(candidate));
}

namespace {

std::string candidateCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " candidate" : " candidates");
}

}  // namespace

void scanRuntimeSources(const Launcher& launcher, std::vector<RuntimeCandidate>& candidates) {
    Scan scan{launcher, candidates, {}};
    const PlatformConventions& conventions = platform::conventions();
    if (conventions.style == PathStyle::Posix) {
        scanFolders(scan);
        return;
    }
    // Conservative order: a place is searched only when the ones before it gave no candidate.
    const struct {
        bool classic;
        const char* name;
        const char* later;  // the places left, before the search path's variable
    } passes[] = {
        {true, "the classic keys", "today's keys, JAVA_HOME and "},
        {false, "today's keys", "JAVA_HOME and "},
    };
    for (const auto& pass : passes) {
        scanRegistry(scan, pass.classic);
        if (candidates.empty()) continue;
        if (trace::enabled()) {
            scan.trace(pass.later + conventions.pathVariable + " not searched: " + pass.name + " gave " +
                       candidateCount(candidates.size()));
        }
        return;
    }
    scanFolders(scan);
}

}  // namespace qn

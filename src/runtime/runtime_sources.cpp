#include "runtime/runtime_sources.h"

#include <array>
#include <optional>
#include <set>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "trace/trace.h"

namespace qn {

namespace {

using platform::RegistryRoot;

const char* kindName(RuntimeKind kind) { return kind == RuntimeKind::Jdk ? "JDK" : "JRE"; }

const char* vendorName(VendorFamily vendor) {
    switch (vendor) {
        case VendorFamily::JavaSoft: return "JavaSoft";
        case VendorFamily::JRockit: return "JRockit";
        case VendorFamily::Ibm: return "IBM";
    }
    return "";
}

const char* rootName(RegistryRoot root) { return root == RegistryRoot::CurrentUser ? "HKCU" : "HKLM"; }

/// One build below a version subkey ("hotspot\MSI"), with the vendor family of its virtual machine.
struct Build {
    const char* subkey;  // empty: the value sits on the version subkey itself
    VendorFamily vendor;
};

enum class KindFrom { Key, Home };  // a key of one kind, or one whose home says (a compiler or not)
enum class VersionFrom { Subkey, Release };  // the subkey names the version, or only the install

struct RegistrySource {
    const char* key;  // with its trailing separator
    KindFrom kindFrom;
    RuntimeKind kind;  // when kindFrom is Key
    const char* homeValue;
    Build builds[2];  // the second one only when its subkey is set
    VersionFrom versionFrom;
    bool classic;  // the original five: machine-wide only, JDK homes in their "jre\" folder
};

constexpr Build none{nullptr, VendorFamily::JavaSoft};
constexpr Build javaSoft{"", VendorFamily::JavaSoft};
constexpr Build hotspot{"hotspot\\MSI", VendorFamily::JavaSoft};
constexpr Build openj9{"openj9\\MSI", VendorFamily::Ibm};

// The classic keys first, in their fixed order (JRockit's JRE before its JDK, unlike JavaSoft's).
// Today's installers' keys are read only when those give no candidate.
constexpr RegistrySource registrySources[] = {
    {"Software\\JavaSoft\\Java Development Kit\\", KindFrom::Key, RuntimeKind::Jdk, "JavaHome",
     {javaSoft, none}, VersionFrom::Subkey, true},
    {"Software\\JavaSoft\\Java Runtime Environment\\", KindFrom::Key, RuntimeKind::Jre, "JavaHome",
     {javaSoft, none}, VersionFrom::Subkey, true},
    {"Software\\JRockit\\Java Runtime Environment\\", KindFrom::Key, RuntimeKind::Jre, "JavaHome",
     {{"", VendorFamily::JRockit}, none}, VersionFrom::Subkey, true},
    {"Software\\JRockit\\Java Development Kit\\", KindFrom::Key, RuntimeKind::Jdk, "JavaHome",
     {{"", VendorFamily::JRockit}, none}, VersionFrom::Subkey, true},
    {"Software\\IBM\\Java2 Runtime Environment\\", KindFrom::Key, RuntimeKind::Jre, "JavaHome",
     {{"", VendorFamily::Ibm}, none}, VersionFrom::Subkey, true},

    {"Software\\JavaSoft\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "JavaHome", {javaSoft, none},
     VersionFrom::Subkey, false},
    {"Software\\JavaSoft\\JRE\\", KindFrom::Key, RuntimeKind::Jre, "JavaHome", {javaSoft, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Adoptium\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Adoptium\\JRE\\", KindFrom::Key, RuntimeKind::Jre, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Foundation\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Foundation\\JRE\\", KindFrom::Key, RuntimeKind::Jre, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\AdoptOpenJDK\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "Path", {hotspot, openj9},
     VersionFrom::Subkey, false},
    {"Software\\AdoptOpenJDK\\JRE\\", KindFrom::Key, RuntimeKind::Jre, "Path", {hotspot, openj9},
     VersionFrom::Subkey, false},
    {"Software\\Microsoft\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Semeru\\JDK\\", KindFrom::Key, RuntimeKind::Jdk, "Path", {openj9, none},
     VersionFrom::Subkey, false},
    {"Software\\Semeru\\JRE\\", KindFrom::Key, RuntimeKind::Jre, "Path", {openj9, none},
     VersionFrom::Subkey, false},
    // zulu-<major>: the release file gives the full version.
    {"Software\\Azul Systems\\Zulu\\", KindFrom::Home, RuntimeKind::Jdk, "InstallationPath",
     {javaSoft, none}, VersionFrom::Release, false},
    {"Software\\BellSoft\\Liberica\\", KindFrom::Home, RuntimeKind::Jdk, "InstallationPath",
     {javaSoft, none}, VersionFrom::Release, false},
};

/// Folders that hold runtimes, on platforms without registrations.
enum class FolderSourceKind {
    Variable,       // the folder a variable names
    CommandOnPath,  // the runtime of the first java program on the search path
    Children,       // every folder inside
};

struct FolderSource {
    FolderSourceKind kind;
    const char* text;  // the variable's name, or the parent folder ("~/" is the home folder)
};

constexpr FolderSource posixFolderSources[] = {
    {FolderSourceKind::Variable, "JAVA_HOME"},
    {FolderSourceKind::Children, "/usr/lib/jvm"},
    {FolderSourceKind::CommandOnPath, nullptr},
    {FolderSourceKind::Children, "~/.sdkman/candidates/java"},
    {FolderSourceKind::Children, "~/.jdks"},
    {FolderSourceKind::Children, "/usr/java"},
    {FolderSourceKind::Children, "/opt"},
};

// On Windows the two last resorts, after every registration.
constexpr FolderSource windowsFolderSources[] = {
    {FolderSourceKind::Variable, "JAVA_HOME"},
    {FolderSourceKind::CommandOnPath, nullptr},
};

struct Scan {
    const Launcher& launcher;
    std::vector<RuntimeCandidate>& candidates;

    void trace(const std::string& text) const { trace::line("runtime", text); }

    bool inRange(const JavaVersion& version) const {
        return JavaVersion::inRange(version, launcher.minimumVersion, launcher.maximumVersion);
    }

    /// Adds a home that holds a library, or says why it does not count.
    void consider(const std::string& home, const JavaVersion& version, const std::string& versionText,
                  RuntimeKind kind, VendorFamily vendor, JvmType probe, const std::string& where) {
        const auto describe = [&] {
            return "candidate " + (versionText.empty() ? std::string("(no version)") : versionText) +
                   " " + kindName(kind) + " " + vendorName(vendor) + " " + home + " from " + where;
        };
        if (!kindScanned(launcher, kind)) {
            if (trace::enabled()) trace(describe() + ": passed over: kind filtered");
            return;
        }
        if (!inRange(version)) {
            if (trace::enabled()) trace(describe() + ": passed over: out of range");
            return;
        }
        const JvmLibraryLookup library = lookupJvmLibrary(home, probe);
        if (library.path.empty()) {
            if (trace::enabled()) {
                trace(describe() + (library.otherMachinePath.empty()
                                        ? ": passed over: no flavour"
                                        : ": passed over: other bitness (" +
                                              std::to_string(library.otherMachineBits) + "-bit " +
                                              library.otherMachinePath + ")"));
            }
            return;
        }
        RuntimeCandidate candidate;
        candidate.version = version;
        candidate.home = home;
        candidate.isServer = library.isServer;
        candidate.isPreferred = isPreferredRuntime(launcher, kind, vendor);
        if (trace::enabled()) candidate.origin = describe() + " flavour " + library.path;
        candidates.push_back(std::move(candidate));
    }

    // --- registrations ----------------------------------------------------------------------

    /// The JavaSoft JRE registrations are probed client first even when the server is favoured.
    JvmType probeOrder(const RegistrySource& source) const {
        if (source.classic && source.kind == RuntimeKind::Jre && source.builds[0].vendor == VendorFamily::JavaSoft &&
            launcher.jvmType == JvmType::ServerFirst) {
            return JvmType::ClientFirst;
        }
        return launcher.jvmType;
    }

    bool sourceScanned(const RegistrySource& source, const Build& build) const {
        const bool kindOk = source.kindFrom == KindFrom::Home ||  // decided per home
                            kindScanned(launcher, source.kind);
        return kindOk && vendorScanned(launcher, build.vendor);
    }

    void scanRegistrySource(RegistryRoot root, const RegistrySource& source) {
        bool anyBuild = false;
        for (const Build& build : source.builds) {
            if (build.subkey && sourceScanned(source, build)) anyBuild = true;
        }
        if (!anyBuild) {
            if (trace::enabled()) {
                trace(std::string("skip ") + rootName(root) + "\\" + source.key + ": " +
                      (source.kindFrom == KindFrom::Key && !kindScanned(launcher, source.kind)
                           ? "kind filtered"
                           : "vendor filtered"));
            }
            return;
        }
        std::vector<std::string> names;
        if (const platform::RegistryKeyPtr key = platform::openKey(root, source.key)) {
            names = platform::subkeyNames(*key);
        }
        if (trace::enabled()) {
            trace(std::string("search ") + rootName(root) + "\\" + source.key + ": " +
                  std::to_string(names.size()) + " subkeys");
        }
        for (const std::string& name : names) {
            const JavaVersion subkeyVersion = JavaVersion::parsed(name, 0);
            // Never opened when the name already rules it out.
            if (source.versionFrom == VersionFrom::Subkey && !inRange(subkeyVersion)) {
                if (trace::enabled()) {
                    trace("candidate " + name + " " + kindName(source.kind) + " " +
                          vendorName(source.builds[0].vendor) + " " + rootName(root) + "\\" + source.key +
                          name + ": passed over: out of range");
                }
                continue;
            }
            for (const Build& build : source.builds) {
                if (build.subkey && sourceScanned(source, build)) {
                    scanRegistration(root, source, build, name, subkeyVersion);
                }
            }
        }
    }

    void scanRegistration(RegistryRoot root, const RegistrySource& source, const Build& build,
                          const std::string& name, const JavaVersion& subkeyVersion) {
        std::string path = source.key + name;
        if (*build.subkey) path += std::string("\\") + build.subkey;
        const platform::RegistryKeyPtr key = platform::openKey(root, path);
        if (!key) return;  // this install has no such build
        const std::string where = std::string(rootName(root)) + "\\" + path;
        const std::optional<std::string> value = platform::stringValue(*key, source.homeValue);
        if (!value || value->empty()) {
            if (trace::enabled()) trace("candidate " + name + " at " + where + ": passed over: no " + source.homeValue);
            return;
        }
        const PlatformConventions& conventions = platform::conventions();
        const std::string registered = conventions.withTrailingSeparator(*value);
        RuntimeKind kind = source.kind;
        if (source.kindFrom == KindFrom::Home) {
            kind = platform::pathExists(registered + conventions.compilerMarker) ? RuntimeKind::Jdk
                                                                                : RuntimeKind::Jre;
        }
        std::string versionText = name;
        JavaVersion version = subkeyVersion;
        if (source.versionFrom == VersionFrom::Release) {
            const std::string released = releaseVersion(registered);
            if (!released.empty()) {
                versionText = released;
                version = JavaVersion::parsed(released, 0);
            }
        }
        std::string home = registered;
        if (source.classic && kind == RuntimeKind::Jdk) {
            home += conventions.jdkRuntimeSuffix;
            // A JDK of Java 9 or later under the classic key has no runtime folder of its own.
            if (lookupJvmLibrary(home, probeOrder(source)).path.empty() &&
                !lookupJvmLibrary(registered, probeOrder(source)).path.empty()) {
                if (trace::enabled()) trace("no runtime folder in " + registered + ": the JDK's own home is used");
                home = registered;
            }
        }
        consider(home, version, versionText, kind, build.vendor, probeOrder(source), where);
    }

    void scanRegistry(bool classic) {
        for (const RegistrySource& source : registrySources) {
            if (source.classic != classic) continue;
            scanRegistrySource(RegistryRoot::LocalMachine, source);
            if (!classic) scanRegistrySource(RegistryRoot::CurrentUser, source);
        }
    }

    // --- folders --------------------------------------------------------------------------------

    std::set<std::string> seen;  // one runtime is often reachable under several names

    void considerFolder(std::string folder, bool needsRelease, const std::string& where) {
        const PlatformConventions& conventions = platform::conventions();
        const std::string resolved = platform::realPath(folder);
        if (!seen.insert(resolved).second) {
            if (trace::enabled()) trace("same runtime again: " + folder + " (" + resolved + ")");
            return;
        }
        folder = conventions.withTrailingSeparator(folder);
        const std::string versionText = releaseVersion(folder);
        if (needsRelease && !platform::pathExists(folder + "release")) {
            if (trace::enabled()) trace("not a runtime (no release file): " + folder + " from " + where);
            return;
        }
        const RuntimeKind kind =
            platform::pathExists(folder + conventions.compilerMarker) ? RuntimeKind::Jdk : RuntimeKind::Jre;
        consider(folder, JavaVersion::parsed(versionText, 0), versionText, kind, VendorFamily::JavaSoft,
                 launcher.jvmType, where);
    }

    std::string expandedHome(const std::string& text) const {
        if (text.compare(0, 2, "~/") != 0) return text;
        const std::optional<std::string> home = platform::environmentVariable("HOME");
        return home && !home->empty() ? platform::conventions().withTrailingSeparator(*home) + text.substr(2)
                                      : std::string();
    }

    /// The home of the first java program on the search path: its folder's parent, links resolved.
    std::optional<std::string> homeOfCommandOnPath() const {
        const PlatformConventions& conventions = platform::conventions();
        const std::string list = platform::environmentVariable(conventions.pathVariable).value_or("");
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(conventions.listSeparator, start);
            if (end == std::string::npos) end = list.size();
            const std::string folder = list.substr(start, end - start);
            start = end + 1;
            if (folder.empty()) continue;
            const std::string program = conventions.withTrailingSeparator(folder) + conventions.javaCommand;
            if (!platform::pathExists(program)) continue;
            if (trace::enabled()) trace("java on " + conventions.pathVariable + ": " + program);
            return conventions.withoutComponents(platform::realPath(program), 2);
        }
        return std::nullopt;
    }

    void scanFolderSource(const FolderSource& source, bool needsRelease) {
        switch (source.kind) {
            case FolderSourceKind::Variable: {
                const std::string folder = platform::environmentVariable(source.text).value_or("");
                if (trace::enabled()) trace(std::string("search ") + source.text + ": " + (folder.empty() ? "(not set)" : folder));
                if (!folder.empty()) considerFolder(folder, needsRelease, source.text);
                return;
            }
            case FolderSourceKind::CommandOnPath: {
                const std::string variable = platform::conventions().pathVariable;
                const std::optional<std::string> home = homeOfCommandOnPath();
                if (!home) {
                    if (trace::enabled()) trace("search " + variable + ": no " + platform::conventions().javaCommand);
                    return;
                }
                considerFolder(*home, needsRelease, variable);
                return;
            }
            case FolderSourceKind::Children: {
                const std::string parent = expandedHome(source.text);
                if (parent.empty()) return;
                const std::string withSeparator = platform::conventions().withTrailingSeparator(parent);
                if (trace::enabled()) trace("search " + parent);
                for (const std::string& name : platform::findFiles(withSeparator + "*")) {
                    if (name == "." || name == "..") continue;
                    considerFolder(withSeparator + name, needsRelease, parent);
                }
                return;
            }
        }
    }
};

}  // namespace

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

std::string releaseVersion(const std::string& home) {
    const std::optional<std::string> release = platform::readFileHead(home + "release", 16384);
    if (!release) return {};
    const std::string key = "JAVA_VERSION=";
    std::size_t start = 0;
    while (start < release->size()) {
        std::size_t end = release->find('\n', start);
        if (end == std::string::npos) end = release->size();
        std::string line = release->substr(start, end - start);
        start = end + 1;
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

void scanRuntimeSources(const Launcher& launcher, std::vector<RuntimeCandidate>& candidates) {
    Scan scan{launcher, candidates, {}};
    if (platform::conventions().style == PathStyle::Posix) {
        // Runtimes installed as folders stand in for the JavaSoft registrations.
        if (!vendorScanned(launcher, VendorFamily::JavaSoft)) {
            if (trace::enabled()) scan.trace("skip runtime folders: vendor filtered");
            return;
        }
        for (const FolderSource& source : posixFolderSources) scan.scanFolderSource(source, true);
        return;
    }
    scan.scanRegistry(true);
    if (!candidates.empty()) return;
    scan.scanRegistry(false);
    if (!candidates.empty()) return;
    for (const FolderSource& source : windowsFolderSources) scan.scanFolderSource(source, false);
}

}  // namespace qn

// The vendors' registrations: each place an installer writes is a row of one table.
#include <optional>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "runtime/runtime_scan.h"
#include "trace/trace.h"

namespace qn {

namespace {

using platform::RegistryRoot;
using platform::RegistryView;

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
    const char* vendorName;
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
constexpr auto Jdk = RuntimeKind::Jdk;
constexpr auto Jre = RuntimeKind::Jre;

// The classic keys first, in their fixed order (JRockit's JRE before its JDK, unlike JavaSoft's).
// Today's installers' keys are read only when those give no candidate.
constexpr RegistrySource registrySources[] = {
    {"Software\\JavaSoft\\Java Development Kit\\", "Oracle", KindFrom::Key, Jdk, "JavaHome", {javaSoft, none},
     VersionFrom::Subkey, true},
    {"Software\\JavaSoft\\Java Runtime Environment\\", "Oracle", KindFrom::Key, Jre, "JavaHome",
     {javaSoft, none}, VersionFrom::Subkey, true},
    {"Software\\JRockit\\Java Runtime Environment\\", "JRockit", KindFrom::Key, Jre, "JavaHome",
     {{"", VendorFamily::JRockit}, none}, VersionFrom::Subkey, true},
    {"Software\\JRockit\\Java Development Kit\\", "JRockit", KindFrom::Key, Jdk, "JavaHome",
     {{"", VendorFamily::JRockit}, none}, VersionFrom::Subkey, true},
    {"Software\\IBM\\Java2 Runtime Environment\\", "IBM", KindFrom::Key, Jre, "JavaHome",
     {{"", VendorFamily::Ibm}, none}, VersionFrom::Subkey, true},

    {"Software\\JavaSoft\\JDK\\", "Oracle", KindFrom::Key, Jdk, "JavaHome", {javaSoft, none}, VersionFrom::Subkey,
     false},
    {"Software\\JavaSoft\\JRE\\", "Oracle", KindFrom::Key, Jre, "JavaHome", {javaSoft, none}, VersionFrom::Subkey,
     false},
    {"Software\\Eclipse Adoptium\\JDK\\", "Temurin", KindFrom::Key, Jdk, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Adoptium\\JRE\\", "Temurin", KindFrom::Key, Jre, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Foundation\\JDK\\", "Temurin", KindFrom::Key, Jdk, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\Eclipse Foundation\\JRE\\", "Temurin", KindFrom::Key, Jre, "Path", {hotspot, none},
     VersionFrom::Subkey, false},
    {"Software\\AdoptOpenJDK\\JDK\\", "AdoptOpenJDK", KindFrom::Key, Jdk, "Path", {hotspot, openj9},
     VersionFrom::Subkey, false},
    {"Software\\AdoptOpenJDK\\JRE\\", "AdoptOpenJDK", KindFrom::Key, Jre, "Path", {hotspot, openj9},
     VersionFrom::Subkey, false},
    {"Software\\Microsoft\\JDK\\", "Microsoft", KindFrom::Key, Jdk, "Path", {hotspot, none}, VersionFrom::Subkey,
     false},
    {"Software\\Semeru\\JDK\\", "Semeru", KindFrom::Key, Jdk, "Path", {openj9, none}, VersionFrom::Subkey, false},
    {"Software\\Semeru\\JRE\\", "Semeru", KindFrom::Key, Jre, "Path", {openj9, none}, VersionFrom::Subkey, false},
    {"Software\\SapMachine\\JDK\\", "SapMachine", KindFrom::Key, Jdk, "JavaHome", {javaSoft, none},
     VersionFrom::Subkey, false},
    {"Software\\SapMachine\\JRE\\", "SapMachine", KindFrom::Key, Jre, "JavaHome", {javaSoft, none},
     VersionFrom::Subkey, false},
    // zulu-<major>: the release file gives the full version. The 32-bit installer writes its
    // own key, which 64-bit Windows keeps in the 32-bit view.
    {"Software\\Azul Systems\\Zulu\\", "Zulu", KindFrom::Home, Jdk, "InstallationPath", {javaSoft, none},
     VersionFrom::Release, false},
    {"Software\\Azul Systems\\Zulu 32-bit\\", "Zulu", KindFrom::Home, Jdk, "InstallationPath", {javaSoft, none},
     VersionFrom::Release, false},
    {"Software\\BellSoft\\Liberica\\", "Liberica", KindFrom::Home, Jdk, "InstallationPath", {javaSoft, none},
     VersionFrom::Release, false},
};

/// What one pass over the table saw before it read a registration: one trace line.
struct PassSummary {
    std::string searched, empty, kindFiltered, vendorFiltered, otherView;

    static void add(std::string& list, const std::string& item) { list += (list.empty() ? "" : ", ") + item; }
};

struct RegistryScan {
    Scan& scan;

    const Launcher& launcher() const { return scan.launcher; }

    /// The JavaSoft JRE registrations are probed client first even when the server is favoured.
    JvmType probeOrder(const RegistrySource& source) const {
        if (source.classic && source.kind == Jre && source.builds[0].vendor == VendorFamily::JavaSoft &&
            launcher().jvmType == JvmType::ServerFirst) {
            return JvmType::ClientFirst;
        }
        return launcher().jvmType;
    }

    bool buildScanned(const RegistrySource& source, const Build& build) const {
        const bool kindOk = source.kindFrom == KindFrom::Home ||  // decided per home
                            kindScanned(launcher(), source.kind);
        return build.subkey && kindOk && vendorScanned(launcher(), build.vendor);
    }

    bool anyBuildScanned(const RegistrySource& source) const {
        for (const Build& build : source.builds) {
            if (buildScanned(source, build)) return true;
        }
        return false;
    }

    /// The subkey names of a row under one root, or nothing when the settings rule it out.
    std::optional<std::vector<std::string>> listNames(RegistryRoot root, const RegistrySource& source,
                                                      PassSummary& summary) const {
        const std::string where = std::string(rootName(root)) + "\\" + source.key;
        if (!anyBuildScanned(source)) {
            if (source.kindFrom == KindFrom::Key && !kindScanned(launcher(), source.kind)) {
                PassSummary::add(summary.kindFiltered, where);
            } else {
                PassSummary::add(summary.vendorFiltered, where);
            }
            return std::nullopt;
        }
        std::vector<std::string> names;
        if (const platform::RegistryKeyPtr key = platform::openKey(root, source.key)) {
            names = platform::subkeyNames(*key);
        }
        if (names.empty()) {
            PassSummary::add(summary.empty, where);
        } else {
            PassSummary::add(summary.searched, where + " " + std::to_string(names.size()) + " subkeys");
        }
        // The user's registry has one view for both kinds of program; only the machine's is split.
        if (trace::enabled() && root == RegistryRoot::LocalMachine) {
            if (const platform::RegistryKeyPtr other = platform::openKey(root, source.key, RegistryView::Other)) {
                const std::size_t count = platform::subkeyNames(*other).size();
                if (count > 0) PassSummary::add(summary.otherView, std::to_string(count) + " in " + where);
            }
        }
        return names;
    }

    void scanNames(RegistryRoot root, const RegistrySource& source, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            const JavaVersion subkeyVersion = JavaVersion::parsed(name, 0);
            // Never opened when the name already rules it out.
            if (source.versionFrom == VersionFrom::Subkey && !scan.inRange(subkeyVersion)) {
                if (trace::enabled()) {
                    scan.trace("candidate " + name + " " + (source.kind == Jdk ? "JDK " : "JRE ") + source.vendorName +
                               " " + rootName(root) + "\\" + source.key + name + ": passed over: out of range");
                }
                continue;
            }
            for (const Build& build : source.builds) {
                if (buildScanned(source, build)) scanRegistration(root, source, build, name);
            }
        }
    }

    void scanRegistration(RegistryRoot root, const RegistrySource& source, const Build& build,
                          const std::string& name) {
        std::string path = source.key + name;
        if (*build.subkey) path += std::string("\\") + build.subkey;
        const platform::RegistryKeyPtr key = platform::openKey(root, path);
        if (!key) return;  // this install has no such build
        const std::string where = std::string(rootName(root)) + "\\" + path;
        const std::optional<std::string> value = platform::stringValue(*key, source.homeValue);
        if (!value || value->empty()) {
            if (trace::enabled()) scan.trace("candidate " + name + " at " + where + ": passed over: no " + source.homeValue);
            return;
        }
        const PlatformConventions& conventions = platform::conventions();
        FoundHome found;
        found.registered = conventions.withTrailingSeparator(*value);
        found.kind = source.kind;
        if (source.kindFrom == KindFrom::Home) {
            found.kind = platform::pathExists(found.registered + conventions.compilerMarker) ? Jdk : Jre;
        }
        found.versionText = name;
        if (source.versionFrom == VersionFrom::Release) {
            const std::string released = releaseVersion(found.registered);
            if (!released.empty()) found.versionText = released;
        }
        found.vendor = build.vendor;
        found.vendorName = source.vendorName;
        found.probe = probeOrder(source);
        // The classic JRE keys name the runtime itself; a JDK of Java 8 or older, whoever
        // registered it, keeps its runtime in "jre\".
        found.runtimeFolderFirst = !(source.classic && source.kind == Jre);
        found.where = where;
        scan.consider(found);
    }

    void pass(bool classic) {
        struct Listed {
            RegistryRoot root;
            const RegistrySource* source;
            std::vector<std::string> names;
        };
        std::vector<Listed> listed;
        PassSummary summary;
        for (const RegistrySource& source : registrySources) {
            if (source.classic != classic) continue;
            for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
                if (classic && root == RegistryRoot::CurrentUser) continue;  // machine-wide only
                if (auto names = listNames(root, source, summary)) listed.push_back({root, &source, std::move(*names)});
            }
        }
        if (trace::enabled()) {
            std::string text = std::string("search ") + (classic ? "the classic keys" : "today's keys") + ": " +
                               (summary.searched.empty() ? "no registration" : summary.searched);
            if (!summary.empty.empty()) text += "; nothing in " + summary.empty;
            if (!summary.kindFiltered.empty()) text += "; kind filtered: " + summary.kindFiltered;
            if (!summary.vendorFiltered.empty()) text += "; vendor filtered: " + summary.vendorFiltered;
            scan.trace(text);
            if (!summary.otherView.empty()) {
                const int own = platform::ownImageMachine().bits;
                scan.trace(std::string(own == 64 ? "32" : "64") + "-bit registrations not searched (a " +
                           std::to_string(own) + "-bit launcher cannot load their runtimes): " + summary.otherView);
            }
        }
        for (const Listed& entry : listed) scanNames(entry.root, *entry.source, entry.names);
    }
};

}  // namespace

void scanRegistry(Scan& scan, bool classic) { RegistryScan{scan}.pass(classic); }

}  // namespace qn

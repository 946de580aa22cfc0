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

// The subkey names the version, or only the install, whose home then tells its version and kind
// (a compiler or not).
enum class SubkeyNames { Version, Install };

struct RegistrySource {
    const char* key;  // with its trailing separator
    const char* vendorName;
    RuntimeKind kind;  // when the subkey names the version
    const char* homeValue;
    Build builds[2];  // the second one only when its subkey is set
    SubkeyNames names;
    bool classic;  // the original five: machine-wide only, JDK homes in their "jre\" folder
};

constexpr Build none{nullptr, VendorFamily::JavaSoft};
constexpr Build javaSoft{"", VendorFamily::JavaSoft};
constexpr Build hotspot{"hotspot\\MSI", VendorFamily::JavaSoft};
constexpr Build openj9{"openj9\\MSI", VendorFamily::Ibm};
constexpr auto Jdk = RuntimeKind::Jdk;
constexpr auto Jre = RuntimeKind::Jre;

constexpr RegistrySource classicKey(const char* key, const char* vendorName, RuntimeKind kind, VendorFamily vendor) {
    return {key, vendorName, kind, "JavaHome", {{"", vendor}, none}, SubkeyNames::Version, true};
}

constexpr RegistrySource todaysKey(const char* key, const char* vendorName, RuntimeKind kind, const char* homeValue,
                                   Build build, Build second = none) {
    return {key, vendorName, kind, homeValue, {build, second}, SubkeyNames::Version, false};
}

constexpr RegistrySource installKey(const char* key, const char* vendorName) {
    return {key, vendorName, Jdk, "InstallationPath", {javaSoft, none}, SubkeyNames::Install, false};
}

// The classic keys first, in their fixed order (JRockit's JRE before its JDK, unlike JavaSoft's).
// Today's installers' keys are read only when those give no candidate.
constexpr RegistrySource registrySources[] = {
    classicKey("Software\\JavaSoft\\Java Development Kit\\", "Oracle", Jdk, VendorFamily::JavaSoft),
    classicKey("Software\\JavaSoft\\Java Runtime Environment\\", "Oracle", Jre, VendorFamily::JavaSoft),
    classicKey("Software\\JRockit\\Java Runtime Environment\\", "JRockit", Jre, VendorFamily::JRockit),
    classicKey("Software\\JRockit\\Java Development Kit\\", "JRockit", Jdk, VendorFamily::JRockit),
    classicKey("Software\\IBM\\Java2 Runtime Environment\\", "IBM", Jre, VendorFamily::Ibm),

    todaysKey("Software\\JavaSoft\\JDK\\", "Oracle", Jdk, "JavaHome", javaSoft),
    todaysKey("Software\\JavaSoft\\JRE\\", "Oracle", Jre, "JavaHome", javaSoft),
    todaysKey("Software\\Eclipse Adoptium\\JDK\\", "Temurin", Jdk, "Path", hotspot),
    todaysKey("Software\\Eclipse Adoptium\\JRE\\", "Temurin", Jre, "Path", hotspot),
    todaysKey("Software\\Eclipse Foundation\\JDK\\", "Temurin", Jdk, "Path", hotspot),
    todaysKey("Software\\Eclipse Foundation\\JRE\\", "Temurin", Jre, "Path", hotspot),
    todaysKey("Software\\AdoptOpenJDK\\JDK\\", "AdoptOpenJDK", Jdk, "Path", hotspot, openj9),
    todaysKey("Software\\AdoptOpenJDK\\JRE\\", "AdoptOpenJDK", Jre, "Path", hotspot, openj9),
    todaysKey("Software\\Microsoft\\JDK\\", "Microsoft", Jdk, "Path", hotspot),
    todaysKey("Software\\Semeru\\JDK\\", "Semeru", Jdk, "Path", openj9),
    todaysKey("Software\\Semeru\\JRE\\", "Semeru", Jre, "Path", openj9),
    todaysKey("Software\\SapMachine\\JDK\\", "SapMachine", Jdk, "JavaHome", javaSoft),
    todaysKey("Software\\SapMachine\\JRE\\", "SapMachine", Jre, "JavaHome", javaSoft),
    // zulu-<major>: the release file gives the full version. The 32-bit installer writes its
    // own key, which 64-bit Windows keeps in the 32-bit view.
    installKey("Software\\Azul Systems\\Zulu\\", "Zulu"),
    installKey("Software\\Azul Systems\\Zulu 32-bit\\", "Zulu"),
    installKey("Software\\BellSoft\\Liberica\\", "Liberica"),
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
        const bool kindOk = source.names == SubkeyNames::Install ||  // decided per home
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
            if (source.names == SubkeyNames::Version && !kindScanned(launcher(), source.kind)) {
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
            if (source.names == SubkeyNames::Version && !scan.inRange(subkeyVersion)) {
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
        found.versionText = name;
        if (source.names == SubkeyNames::Install) {
            found.kind = platform::pathExists(found.registered + conventions.compilerMarker) ? Jdk : Jre;
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

// Runtimes found as folders: the one JAVA_HOME names, the one of the java program on the search
// path and, on POSIX, the folders runtimes are installed in.
#include <optional>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "runtime/runtime_scan.h"
#include "trace/trace.h"

namespace qn {

namespace {

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

struct FolderScan {
    Scan& scan;

    void considerFolder(std::string folder, bool needsRelease, const std::string& where) {
        const PlatformConventions& conventions = platform::conventions();
        const std::string resolved = platform::realPath(folder);
        if (!scan.seen.insert(resolved).second) {
            if (trace::enabled()) scan.trace("same runtime again: " + folder + " (" + resolved + ")");
            return;
        }
        folder = conventions.withTrailingSeparator(folder);
        if (needsRelease && !platform::pathExists(folder + "release")) {
            if (trace::enabled()) scan.trace("not a runtime (no release file): " + folder + " from " + where);
            return;
        }
        FoundHome found;
        found.registered = folder;
        found.kind = platform::pathExists(folder + conventions.compilerMarker) ? RuntimeKind::Jdk : RuntimeKind::Jre;
        // Folders stand in for JavaSoft's registrations whoever made them; the trace names the maker.
        found.vendor = VendorFamily::JavaSoft;
        found.vendorName = homeVendor(folder);
        found.probe = scan.launcher.jvmType;
        found.runtimeFolderFirst = true;
        found.where = where;
        scan.consider(found);  // the version comes from the home
    }

    std::string expandedHome(const std::string& text) const {
        if (text.compare(0, 2, "~/") != 0) return text;
        const std::optional<std::string> home = platform::environmentVariable("HOME");
        return home && !home->empty() ? platform::conventions().withTrailingSeparator(*home) + text.substr(2)
                                      : std::string();
    }

    /// The home of the first java program on the search path: its folder's parent, links resolved
    /// (Oracle's installers put a folder of links to the runtime's programs there).
    std::optional<std::string> homeOfCommandOnPath() const {
        const PlatformConventions& conventions = platform::conventions();
        const std::string list = platform::environmentVariable(conventions.pathVariable).value_or("");
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(conventions.listSeparator, start);
            if (end == std::string::npos) end = list.size();
            const std::string folder = conventions.folderFromVariable(list.substr(start, end - start));
            start = end + 1;
            if (folder.empty()) continue;
            const std::string program = conventions.withTrailingSeparator(folder) + conventions.javaCommand;
            if (!platform::pathExists(program)) continue;
            const std::string resolved = platform::realPath(program);
            if (trace::enabled()) {
                scan.trace("java on " + conventions.pathVariable + ": " + program +
                           (resolved == program ? std::string() : " (links to " + resolved + ")"));
            }
            return conventions.withoutComponents(resolved, 2);
        }
        return std::nullopt;
    }

    void scanSource(const FolderSource& source, bool needsRelease) {
        const PlatformConventions& conventions = platform::conventions();
        switch (source.kind) {
            case FolderSourceKind::Variable: {
                const std::string folder =
                    conventions.folderFromVariable(platform::environmentVariable(source.text).value_or(""));
                if (trace::enabled()) {
                    scan.trace(std::string("search ") + source.text + ": " + (folder.empty() ? "(not set)" : folder));
                }
                if (!folder.empty()) considerFolder(folder, needsRelease, source.text);
                return;
            }
            case FolderSourceKind::CommandOnPath: {
                const std::optional<std::string> home = homeOfCommandOnPath();
                if (!home) {
                    if (trace::enabled()) scan.trace("search " + conventions.pathVariable + ": no " + conventions.javaCommand);
                    return;
                }
                considerFolder(*home, needsRelease, conventions.pathVariable);
                return;
            }
            case FolderSourceKind::Children: {
                const std::string parent = expandedHome(source.text);
                if (parent.empty()) return;
                const std::string withSeparator = conventions.withTrailingSeparator(parent);
                if (trace::enabled()) scan.trace("search " + parent);
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

void scanFolders(Scan& scan) {
    FolderScan folders{scan};
    if (platform::conventions().style == PathStyle::Posix) {
        // Runtimes installed as folders stand in for the JavaSoft registrations.
        if (!vendorScanned(scan.launcher, VendorFamily::JavaSoft)) {
            if (trace::enabled()) scan.trace("skip runtime folders: vendor filtered");
            return;
        }
        for (const FolderSource& source : posixFolderSources) folders.scanSource(source, true);
        return;
    }
    for (const FolderSource& source : windowsFolderSources) folders.scanSource(source, false);
}

}  // namespace qn

#include "vm/startup_cache.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

#include "launcher/launcher.h"
#include "text/jar_manifest.h"
#include "vm/startup_cache_store.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "platform/instance_channel.h"
#include "platform/platform.h"
#include "text/release_file.h"
#include "trace/trace.h"
#include "vm/vm_options.h"

namespace qn {

namespace {

using cache::classPathOption;
using cache::join;
using cache::quietAot;
using cache::quietSharing;
using cache::startsWith;

// A training start needs this much free space: the class list or recorded configuration, and
// then the assembled archive, which is larger than the classes it holds.
const std::uint64_t requiredFreeSpace = std::uint64_t{512} << 20;
// Manifests are followed this far; a longer chain is a loop of names or no real application.
const std::size_t reachLimit = 4096;

struct Hash {
    std::uint64_t value = 14695981039346656037ULL;  // FNV-1a
    void add(const std::string& text) {
        for (unsigned char c : text) value = (value ^ c) * 1099511628211ULL;
        value = (value ^ 0xff) * 1099511628211ULL;  // ends each field, so "ab","c" differs from "a","bc"
    }
    void add(std::uint64_t number) { add(std::to_string(number)); }
    void add(const std::optional<platform::FileFacts>& facts) {
        if (!facts) return add("missing");
        add(facts->size);
        add(static_cast<std::uint64_t>(facts->modified));
        add(facts->isFolder ? "folder" : "file");
    }
};

std::string hex(std::uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return std::string(text).substr(0, static_cast<std::size_t>(digits));
}

const char* mechanismName(CacheMechanism mechanism) {
    switch (mechanism) {
        case CacheMechanism::StaticArchive: return "archive";
        case CacheMechanism::AheadOfTimeCache: return "ahead-of-time cache";
        case CacheMechanism::None: break;
    }
    return "none";
}

void refuse(const std::string& why) {
    if (trace::enabled()) trace::line("cache", "not used: " + why);
}

/// The executable's file name without its extension: caches of one folder are told apart by it.
std::string applicationBaseName() {
    std::string path;
    std::uint32_t errorCode = 0;
    if (!platform::moduleFileName(path, errorCode)) return {};
    const std::size_t separator = platform::conventions().lastSeparator(path);
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

/// The product folder rule of the per-user settings file, below the user's cache folder; each
/// level made when missing. Empty when a level cannot be made.
std::string cacheFolder(const Launcher& launcher) {
    std::string folder = platform::userCacheFolder();
    if (folder.empty() || !platform::ensureFolder(folder)) return {};
    std::string productFolder;
    for (char c : launcher.productName) {
        if (std::string("\\?\"|><:/*").find(c) == std::string::npos) productFolder += c;
    }
    for (const std::string* level : {static_cast<const std::string*>(&productFolder), &launcher.productCode}) {
        if (level->empty()) continue;
        folder = join(folder, *level);
        if (!platform::ensureFolder(folder)) return {};
    }
    return folder;
}

/// What the end of the process completes: a training start's assembly or a warm start's verdict.
struct Pending {
    std::optional<cache::Training> training;
    std::optional<cache::Use> use;
};
std::atomic<Pending*> pending{nullptr};

void finishAtExit() { finishStartupCache(); }

/// The options that use a kept cache.
std::vector<std::string> usingOptions(CacheMechanism mechanism, const std::string& path) {
    if (mechanism == CacheMechanism::AheadOfTimeCache) return {"-XX:AOTCache=" + path, quietAot, quietSharing};
    return {"-XX:SharedArchiveFile=" + path, quietSharing};
}

/// The options of a training start: the runtime only lists the classes it loads, which costs
/// next to nothing; the archive is assembled from the list once the program has ended. (Recording
/// an ahead-of-time configuration instead makes the start itself several times slower.)
std::vector<std::string> trainingOptions(const cache::Training& training) {
    return {"-XX:DumpLoadedClassList=" + training.recorded, quietSharing};
}

/// "%20" and the like decoded, as a URL's path is.
std::string percentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

/// "." and ".." steps of a path taken out, as a URL resolves them.
std::string normalised(const std::string& path, char separator) {
    std::vector<std::string> steps;
    std::size_t pos = 0;
    const bool rooted = !path.empty() && path[0] == separator;
    while (pos <= path.size()) {
        std::size_t end = path.find(separator, pos);
        if (end == std::string::npos) end = path.size();
        const std::string step = path.substr(pos, end - pos);
        if (step == "..") {
            if (!steps.empty() && steps.back() != "..") steps.pop_back();
            else if (!rooted) steps.push_back(step);
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        pos = end + 1;
    }
    std::string result = rooted ? std::string(1, separator) : std::string();
    for (std::size_t i = 0; i < steps.size(); ++i) result += (i ? std::string(1, separator) : "") + steps[i];
    return result;
}

}  // namespace

std::optional<std::string> manifestEntryPath(const std::string& jar, const std::string& url) {
    const PlatformConventions& conventions = platform::conventions();
    std::string path;
    const std::size_t colon = url.find(':');
    const bool windows = conventions.style == PathStyle::Windows;
    if (colon != std::string::npos && colon > 1 && url.find('/') > colon) {
        // A URL with a scheme: only files are on a class path; others are the runtime's to refuse.
        if (!equalsIgnoringCase(url.substr(0, colon), "file")) return std::nullopt;
        path = url.substr(colon + 1);
        if (path.compare(0, 2, "//") == 0) {
            const std::size_t host = path.find('/', 2);
            if (host == std::string::npos || host != 2) return std::nullopt;  // files of another host
            path = path.substr(host);
        }
        if (path.empty() || path[0] != '/') return std::nullopt;
        path = percentDecoded(path);
        if (windows) path = path.substr(1);  // "/C:/lib/a.jar"
    } else {
        if (colon != std::string::npos && url.find('/') > colon) return std::nullopt;  // "C:..." is no URL
        path = percentDecoded(url);
        if (path.empty() || path[0] != '/') {
            const std::size_t separator = conventions.lastSeparator(jar);
            path = (separator == std::string::npos ? std::string() : jar.substr(0, separator + 1)) + path;
        } else if (windows) {
            return std::nullopt;  // rooted without a drive
        }
    }
    if (windows) std::replace(path.begin(), path.end(), '/', '\\');
    if (path.empty() || path.back() == conventions.pathSeparator) return std::nullopt;  // folders have no manifest
    return normalised(path, conventions.pathSeparator);
}

std::vector<std::string> reachedClassPath(const std::vector<std::string>& entries) {
    std::vector<std::string> reached;
    std::set<std::string> seen;
    // Depth first, as the runtime opens them: a jar's manifest entries come right after it.
    std::function<void(const std::string&)> visit = [&](const std::string& entry) {
        if (reached.size() >= reachLimit || !seen.insert(entry).second) return;
        reached.push_back(entry);
        const auto facts = platform::fileFacts(entry);
        if (!facts || facts->isFolder) return;
        const auto manifest = jarManifest(facts->size, [&](std::uint64_t offset, std::size_t size) {
            return platform::readFileAt(entry, offset, size);
        });
        if (!manifest) return;
        for (const std::string& url : classPathUrls(manifestAttribute(*manifest, "Class-Path"))) {
            if (const auto path = manifestEntryPath(entry, url)) visit(*path);
        }
    };
    for (const std::string& entry : entries) visit(entry);
    return reached;
}

CacheMechanism cacheMechanismFor(int featureVersion) {
    if (featureVersion >= 25) return CacheMechanism::AheadOfTimeCache;
    if (featureVersion >= 13) return CacheMechanism::StaticArchive;
    return CacheMechanism::None;
}

int featureVersionFromRelease(const std::string& releaseText) {
    const std::string version = releaseValue(releaseText, "JAVA_VERSION");
    JavaVersion parsed;
    if (!JavaVersion::parse(version, 0, parsed) || parsed.count == 0) return 0;
    // "1.8.0" names version 8.
    if (parsed.components[0] == 1 && parsed.count > 1) return parsed.components[1];
    return parsed.components[0];
}

std::string cacheKey(const CacheKeyInputs& inputs) {
    Hash hash;
    hash.add(inputs.runtimeLibrary);
    hash.add(inputs.library);
    hash.add(inputs.baseArchive);
    hash.add(inputs.releaseVersion);
    hash.add(static_cast<std::uint64_t>(inputs.classPath.size()));
    for (const auto& entry : inputs.classPath) {
        hash.add(entry.first);
        hash.add(entry.second);
    }
    hash.add(static_cast<std::uint64_t>(inputs.options.size()));
    for (const std::string& option : inputs.options) hash.add(option);
    return hex(hash.value, 16);
}

bool optionDecidesArchiveFit(const std::string& option) {
    if (startsWith(option, classPathOption)) return false;  // keyed entry by entry
    // Properties do not change what an archive holds, except those that change the module graph
    // or the class loader that defines the application's classes.
    if (startsWith(option, "-D")) {
        return startsWith(option, "-Djdk.module.") || startsWith(option, "-Djava.system.class.loader");
    }
    return true;
}

bool optionControlsSharing(const std::string& option) {
    for (const char* prefix : {"-Xshare", "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
                               "-XX:AOT", "-XX:+AOT", "-XX:-AOT", "-XX:SharedClassListFile", "-XX:DumpLoadedClassList",
                               "-XX:CacheDataStore"}) {
        if (startsWith(option, prefix)) return true;
    }
    return false;
}

void addStartupCacheOptions(Launcher& launcher, const SettingsReader& reader) {
    if (!equalsIgnoringCase(reader.read(keys::javaRuntimeEnvironment, keys::startupCache), "yes")) return;
    const PlatformConventions& conventions = platform::conventions();

    // The home holds "release"; on every layout it is the folder above the runtime's bin.
    const std::string home = conventions.withoutComponents(runtimeFolders(launcher.jvmLibraryPath).bin, 1);
    const std::string release = platform::readFileStart(join(home, "release"), 64 * 1024);
    const int feature = featureVersionFromRelease(release);
    const CacheMechanism mechanism = cacheMechanismFor(feature);
    if (mechanism == CacheMechanism::None) {
        return refuse(feature == 0 ? "no version in " + join(home, "release")
                                   : "version " + std::to_string(feature) + " keeps no archive of application classes");
    }

    CacheKeyInputs inputs;
    inputs.runtimeLibrary = launcher.jvmLibraryPath;
    inputs.library = platform::fileFacts(launcher.jvmLibraryPath);
    inputs.baseArchive =
        platform::fileFacts(join(conventions.withoutComponents(launcher.jvmLibraryPath, 1), "classes.jsa"));
    inputs.releaseVersion = releaseValue(release, "JAVA_VERSION") + " " + releaseValue(release, "JAVA_RUNTIME_VERSION");
    std::vector<std::string> classPath;
    for (const std::string& option : launcher.vmOptions) {
        if (optionControlsSharing(option)) return refuse("the option " + option + " manages class sharing");
        if (startsWith(option, classPathOption)) {
            std::string list = option.substr(std::char_traits<char>::length(classPathOption));
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t end = list.find(conventions.listSeparator, start);
                if (end == std::string::npos) end = list.size();
                if (end > start) classPath.push_back(list.substr(start, end - start));
                start = end + 1;
            }
        } else if (optionDecidesArchiveFit(option)) {
            inputs.options.push_back(option);
        }
    }
    if (!inputs.library) return refuse("the runtime library " + launcher.jvmLibraryPath + " cannot be read");
    // Every jar the runtime opens counts, the ones named by manifests too: their classes are in
    // the archive, and not every runtime checks them before it maps one.
    for (const std::string& entry : reachedClassPath(classPath)) inputs.classPath.emplace_back(entry, platform::fileFacts(entry));

    cache::CacheNames names;
    names.application = applicationBaseName();
    if (names.application.empty()) return refuse("the launcher's own name is unknown");
    names.folder = cacheFolder(launcher);
    if (names.folder.empty()) return refuse("no cache folder can be made below " + platform::userCacheFolder());
    // Two installations of one application are told apart by where their runtime and jars are.
    Hash identity;
    identity.add(launcher.jvmLibraryPath);
    for (const std::string& entry : classPath) identity.add(entry);
    names.identity = hex(identity.value, 8);
    names.key = cacheKey(inputs);
    if (pending.load() != nullptr) return refuse("a cache of this process is already being written");
    // The trace is made ready first: handlers run in reverse order, so it outlives the finish.
    trace::enabled();
    static const bool registered = std::atexit(finishAtExit) == 0;
    if (!registered) return refuse("the end of the process cannot be watched");

    auto next = std::make_unique<Pending>();
    if (const auto kept = cache::findKept(names, mechanism)) {
        const std::string log = names.ownFile("log");
        for (const std::string& option : usingOptions(mechanism, kept->path)) launcher.vmOptions.push_back(option);
        // The runtime's own account of where each class came from tells whether the cache serves.
        launcher.vmOptions.push_back("-Xlog:class+load=info:file=\"" + log + "\":none:filecount=0");
        if (trace::enabled()) trace::line("cache", std::string("using ") + kept->path + " (" + mechanismName(mechanism) + ")");
        next->use = cache::Use{names, *kept, log};
        pending.store(next.release());
        return;
    }

    const int generation = cache::retrainGeneration(names);
    if (generation > cache::retrainLimit) return refuse("the runtime did not use the archives of this key");
    const auto space = platform::freeDiskSpace(names.folder);
    if (!space || *space < requiredFreeSpace) return refuse("too little free space in " + names.folder);
    cache::Training training;
    training.mechanism = mechanism;
    training.names = names;
    training.generation = generation;
    training.recorded = names.ownFile("list");
    training.javaProgram = join(join(home, "bin"), conventions.style == PathStyle::Windows ? "java.exe" : "java");
    // A file this start makes itself proves the folder writable before the runtime relies on it.
    platform::removeFile(training.recorded);
    if (!platform::createNewFile(training.recorded)) return refuse("cannot write in " + names.folder);
    training.options = launcher.vmOptions;
    for (const std::string& option : trainingOptions(training)) launcher.vmOptions.push_back(option);
    if (trace::enabled()) {
        trace::line("cache", std::string("training ") + training.recorded + " (" + mechanismName(mechanism) + ", key " +
                                 names.key + ", generation " + std::to_string(generation) + ")");
    }
    next->training = std::move(training);
    pending.store(next.release());
}

void finishStartupCache() {
    std::unique_ptr<Pending> done(pending.exchange(nullptr));
    if (!done) return;
    if (done->training) cache::finishTraining(*done->training);
    if (done->use) cache::finishUse(*done->use);
}

}  // namespace qn

#include "vm/startup_cache.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "platform/instance_channel.h"
#include "platform/platform.h"
#include "text/release_file.h"
#include "trace/trace.h"
#include "vm/vm_options.h"

namespace qn {

namespace {

const char* const classPathOption = "-Djava.class.path=";
const char* const quietSharing = "-Xlog:cds*=off";  // the runtime's archive messages go to stdout
const char* const quietAot = "-Xlog:aot*=off";      // a tag the runtime knows from 25 on
// A training start ends with at least this much free space, so the dump at exit cannot run out:
// the runtime ends the process with an error when it cannot write the archive.
const std::uint64_t requiredFreeSpace = std::uint64_t{512} << 20;
// A half-written file younger than this may belong to a start that is still training.
const std::int64_t abandonedAfter = std::int64_t{3600} * 1000000000;

// The first bytes of an archive as the runtime writes them on these (little-endian) machines.
const std::string staticArchiveMagic("\xa2\xab\x0b\xf0", 4);
const std::string dynamicArchiveMagic("\xa8\xab\x0b\xf0", 4);

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

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
        case CacheMechanism::DynamicArchive: return "dynamic archive";
        case CacheMechanism::AutomaticArchive: return "automatic archive";
        case CacheMechanism::AheadOfTimeCache: return "ahead-of-time cache";
        case CacheMechanism::None: break;
    }
    return "none";
}

void refuse(const std::string& why) {
    if (trace::enabled()) trace::line("cache", "not used: " + why);
}

std::string join(const std::string& folder, const std::string& name) {
    return folder + platform::conventions().pathSeparator + name;
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

/// One argument of a java argument file: quoted, with the file format's escapes.
std::string argumentFileLine(const std::string& argument) {
    std::string line = "\"";
    for (char c : argument) {
        if (c == '\\' || c == '"') line += '\\';
        line += c;
    }
    return line + "\"\n";
}

/// The part of a cache file name after "<application>.<runtime>.": "<key>.<rest>".
struct CacheName {
    std::string key;
    std::string rest;
};
std::optional<CacheName> splitCacheName(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::size_t dot = name.find('.', prefix.size());
    if (dot == std::string::npos) return std::nullopt;
    return CacheName{name.substr(prefix.size(), dot - prefix.size()), name.substr(dot + 1)};
}

bool isDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

/// What a training start leaves for the end of the process.
struct PendingCache {
    CacheMechanism mechanism = CacheMechanism::None;
    std::string folder;
    std::string prefix;  // "<application>.<runtime>."
    std::string key;
    std::string written;        // where the runtime writes the archive (or the cache, when assembled)
    std::string configuration;  // the recorded configuration of an ahead-of-time cache
    std::string javaProgram;    // assembles an ahead-of-time cache
    std::vector<std::string> options;  // the start's options, for the assembly
};

std::atomic<PendingCache*> pending{nullptr};

std::string extensionFor(CacheMechanism mechanism) {
    return mechanism == CacheMechanism::AheadOfTimeCache ? "aot" : "jsa";
}

const std::string& magicFor(CacheMechanism mechanism) {
    return mechanism == CacheMechanism::AheadOfTimeCache ? staticArchiveMagic : dynamicArchiveMagic;
}

/// A kept cache file that is whole: its size is the one it had when it was kept, and it begins as
/// an archive does. The runtime trusts a file's header, and a cut archive can crash it.
bool isWholeCache(const std::string& path, const std::string& sizeText, CacheMechanism mechanism) {
    const auto facts = platform::fileFacts(path);
    return facts && !facts->isFolder && isDecimal(sizeText) && std::to_string(facts->size) == sizeText &&
           platform::readFileStart(path, 4) == magicFor(mechanism);
}

void removeQuietly(const std::string& path) {
    if (!path.empty()) platform::removeFile(path);
}

/// Removes the application's other caches for this runtime; half-written files only once they
/// are old enough that no start can still be writing them.
void removeStaleCaches(const PendingCache& cache, const std::string& kept) {
    const std::int64_t now = platform::currentFileTime();
    for (const std::string& name : platform::findFiles(join(cache.folder, cache.prefix + "*"))) {
        const auto parts = splitCacheName(name, cache.prefix);
        if (!parts || name == kept) continue;
        const std::string path = join(cache.folder, name);
        const bool finished = parts->rest.size() > 4 &&
                              (parts->rest.compare(parts->rest.size() - 4, 4, ".jsa") == 0 ||
                               parts->rest.compare(parts->rest.size() - 4, 4, ".aot") == 0);
        if (!finished) {
            const auto facts = platform::fileFacts(path);
            if (!facts || now - facts->modified < abandonedAfter) continue;
        }
        if (platform::removeFile(path) && trace::enabled()) trace::line("cache", "removed " + path);
    }
}

/// Runs the assembly of an ahead-of-time cache from the recorded configuration; true when the
/// helper ended well.
bool assembleAheadOfTimeCache(const PendingCache& cache) {
    const auto recorded = platform::fileFacts(cache.configuration);
    if (!recorded || recorded->size == 0) return false;
    std::string arguments = argumentFileLine("-XX:AOTMode=create") +
                            argumentFileLine("-XX:AOTConfiguration=" + cache.configuration) +
                            argumentFileLine("-XX:AOTCache=" + cache.written) + argumentFileLine(quietAot) +
                            argumentFileLine(quietSharing);
    for (const std::string& option : cache.options) {
        // The program's own log files are not the assembly's to write.
        if (startsWith(option, "-Xlog")) continue;
        // The java program takes the class path from its own option, not from the property.
        if (startsWith(option, classPathOption)) {
            arguments += argumentFileLine("-cp") + argumentFileLine(option.substr(std::char_traits<char>::length(classPathOption)));
        } else {
            arguments += argumentFileLine(option);
        }
    }
    const std::string argumentFile = cache.written + ".args";
    if (!platform::writeWholeFile(argumentFile, arguments)) {
        removeQuietly(argumentFile);
        return false;
    }
    const auto exitCode = platform::runQuietly(cache.javaProgram, {"@" + argumentFile});
    removeQuietly(argumentFile);
    if (trace::enabled()) {
        trace::line("cache", "assembly by " + cache.javaProgram + " ended with " +
                                 (exitCode ? std::to_string(*exitCode) : std::string("no start")));
    }
    return exitCode && *exitCode == 0;
}

void finishCache(const PendingCache& cache) {
    bool ready = true;
    if (cache.mechanism == CacheMechanism::AheadOfTimeCache) {
        ready = assembleAheadOfTimeCache(cache);
        removeQuietly(cache.configuration);
    }
    const auto facts = platform::fileFacts(cache.written);
    if (!ready || !facts || facts->size < 4 || platform::readFileStart(cache.written, 4) != magicFor(cache.mechanism)) {
        // The runtime wrote nothing (a halt, a crash, a rejected option) or not all of it.
        removeQuietly(cache.written);
        if (trace::enabled()) trace::line("cache", "not written: the runtime left no whole archive in " + cache.written);
        return;
    }
    const std::string kept = cache.prefix + cache.key + "." + std::to_string(facts->size) + "." + extensionFor(cache.mechanism);
    if (!platform::replaceFile(cache.written, join(cache.folder, kept))) {
        removeQuietly(cache.written);
        if (trace::enabled()) trace::line("cache", "not written: cannot keep " + kept);
        return;
    }
    if (trace::enabled()) trace::line("cache", "written " + join(cache.folder, kept));
    removeStaleCaches(cache, kept);
}

void finishAtExit() { finishStartupCache(); }

/// The options that use a kept cache.
std::vector<std::string> usingOptions(CacheMechanism mechanism, const std::string& path) {
    if (mechanism == CacheMechanism::AheadOfTimeCache) return {"-XX:AOTCache=" + path, quietAot, quietSharing};
    return {"-XX:SharedArchiveFile=" + path, quietSharing};
}

/// The options of a training start.
std::vector<std::string> trainingOptions(const PendingCache& cache) {
    switch (cache.mechanism) {
        case CacheMechanism::DynamicArchive:
            return {"-XX:ArchiveClassesAtExit=" + cache.written, quietSharing};
        case CacheMechanism::AutomaticArchive:
            return {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + cache.written, quietSharing};
        case CacheMechanism::AheadOfTimeCache:
            // Recording prints one line of its own outside the runtime's logging.
            return {"-XX:AOTMode=record", "-XX:AOTConfiguration=" + cache.configuration,
                    "-XX:+UnlockDiagnosticVMOptions", "-XX:-DisplayVMOutput", quietAot, quietSharing};
        case CacheMechanism::None: break;
    }
    return {};
}

}  // namespace

CacheMechanism cacheMechanismFor(int featureVersion) {
    if (featureVersion >= 25) return CacheMechanism::AheadOfTimeCache;
    if (featureVersion >= 19) return CacheMechanism::AutomaticArchive;
    if (featureVersion >= 13) return CacheMechanism::DynamicArchive;
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
    for (const std::string& option : launcher.vmOptions) {
        if (optionControlsSharing(option)) return refuse("the option " + option + " manages class sharing");
        if (startsWith(option, classPathOption)) {
            std::string list = option.substr(std::char_traits<char>::length(classPathOption));
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t end = list.find(conventions.listSeparator, start);
                if (end == std::string::npos) end = list.size();
                if (end > start) {
                    const std::string entry = list.substr(start, end - start);
                    inputs.classPath.emplace_back(entry, platform::fileFacts(entry));
                }
                start = end + 1;
            }
        } else if (optionDecidesArchiveFit(option)) {
            inputs.options.push_back(option);
        }
    }
    if (!inputs.library) return refuse("the runtime library " + launcher.jvmLibraryPath + " cannot be read");

    const std::string baseName = applicationBaseName();
    if (baseName.empty()) return refuse("the launcher's own name is unknown");
    const std::string folder = cacheFolder(launcher);
    if (folder.empty()) return refuse("no cache folder can be made below " + platform::userCacheFolder());

    Hash runtime;
    runtime.add(launcher.jvmLibraryPath);
    auto cache = std::make_unique<PendingCache>();
    cache->mechanism = mechanism;
    cache->folder = folder;
    cache->prefix = baseName + "." + hex(runtime.value, 8) + ".";
    cache->key = cacheKey(inputs);

    const std::string extension = "." + extensionFor(mechanism);
    for (const std::string& name : platform::findFiles(join(folder, cache->prefix + cache->key + ".*" + extension))) {
        const auto parts = splitCacheName(name, cache->prefix);
        if (!parts || parts->rest.size() <= extension.size()) continue;
        const std::string sizeText = parts->rest.substr(0, parts->rest.size() - extension.size());
        const std::string path = join(folder, name);
        if (!isWholeCache(path, sizeText, mechanism)) {
            if (trace::enabled()) trace::line("cache", "passed over " + path + ": not the file that was kept");
            continue;
        }
        for (const std::string& option : usingOptions(mechanism, path)) launcher.vmOptions.push_back(option);
        if (trace::enabled()) trace::line("cache", std::string("using ") + path + " (" + mechanismName(mechanism) + ")");
        return;
    }

    if (pending.load() != nullptr) return refuse("a cache of this process is already being written");
    const auto space = platform::freeDiskSpace(folder);
    if (!space || *space < requiredFreeSpace) return refuse("too little free space in " + folder);
    const std::string stem = join(folder, cache->prefix + cache->key + "." + std::to_string(platform::currentProcessId()));
    cache->written = stem + ".tmp";
    // A file this start makes itself proves the folder writable before the runtime relies on it.
    removeQuietly(cache->written);
    if (!platform::createNewFile(cache->written)) return refuse("cannot write in " + folder);
    if (mechanism == CacheMechanism::AheadOfTimeCache) {
        cache->configuration = stem + ".conf";
        cache->javaProgram = join(join(home, "bin"), conventions.style == PathStyle::Windows ? "java.exe" : "java");
        cache->options = launcher.vmOptions;
        // The assembly creates the cache anew; the empty file was only the test of the folder.
        removeQuietly(cache->written);
    }
    // The trace is made ready first: handlers run in reverse order, so it outlives the finish.
    trace::enabled();
    static const bool registered = std::atexit(finishAtExit) == 0;
    if (!registered) {
        removeQuietly(cache->written);
        return refuse("the end of the process cannot be watched");
    }
    for (const std::string& option : trainingOptions(*cache)) launcher.vmOptions.push_back(option);
    if (trace::enabled()) {
        trace::line("cache", std::string("writing ") + cache->written + " (" + mechanismName(mechanism) + ", key " + cache->key + ")");
    }
    pending.store(cache.release());
}

void finishStartupCache() {
    std::unique_ptr<PendingCache> cache(pending.exchange(nullptr));
    if (cache) finishCache(*cache);
}

}  // namespace qn

#include "vm/startup_cache_store.h"

#include <algorithm>
#include <map>

#include "platform/cache_files.h"
#include "platform/instance_channel.h"
#include "platform/platform.h"
#include "trace/trace.h"

namespace qn::cache {

namespace {

// A start's own file younger than this may belong to a start (or an assembly) still running.
const std::int64_t abandonedAfter = std::int64_t{3600} * 1000000000;
// The class-load log of one start is read up to this size; a longer one is not judged.
const std::size_t logLimit = std::size_t{64} << 20;
// Fewer classes missing from the archive than this never retrain it.
const std::size_t missingFloor = 100;

// The first bytes of an archive as the runtime writes them on these (little-endian) machines.
const std::string staticArchiveMagic("\xa2\xab\x0b\xf0", 4);

bool isDecimal(const std::string& text) {
    return !text.empty() && text.size() < 20 && text.find_first_not_of("0123456789") == std::string::npos;
}

bool isHex(const std::string& text, std::size_t digits) {
    return text.size() == digits && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void note(const std::string& text) {
    if (trace::enabled()) trace::line("cache", text);
}

void removeNoted(const std::string& path) {
    if (platform::removeFile(path)) note("removed " + path);
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

/// Every file of this application in the folder, taken apart.
std::vector<std::pair<std::string, CacheFile>> applicationFiles(const CacheNames& names) {
    std::vector<std::pair<std::string, CacheFile>> files;
    for (const std::string& name : platform::findFiles(join(names.folder, names.application + ".*"))) {
        if (auto parts = parseCacheFile(name, names.application)) files.emplace_back(name, *parts);
    }
    return files;
}

/// A kept cache file that is whole: its size is the one it had when it was kept, and it begins as
/// an archive does. The runtime trusts a file's header, and a cut archive can crash it.
bool isWholeCache(const std::string& path, const std::string& sizeText) {
    const auto facts = platform::fileFacts(path);
    return facts && !facts->isFolder && std::to_string(facts->size) == sizeText &&
           platform::readFileStart(path, 4) == staticArchiveMagic;
}

/// The options of the assembly: the start's own, without its logging and agents, which are not the
/// assembly's to run, and with the class path as the java program takes it.
std::vector<std::string> assemblyOptions(const Training& training, const std::string& produced) {
    std::vector<std::string> options = {"-Xshare:dump", "-XX:SharedClassListFile=" + training.recorded,
                                        "-XX:SharedArchiveFile=" + produced, quietSharing};
    // From 25 on the archive also holds the classes linked ahead of time, as the runtime's own
    // ahead-of-time cache does.
    if (training.mechanism == CacheMechanism::AheadOfTimeCache) {
        options.insert(options.begin() + 1, "-XX:+AOTClassLinking");
        options.push_back(quietAot);
    }
    for (const std::string& option : training.options) {
        if (startsWith(option, "-Xlog") || startsWith(option, "-javaagent") || startsWith(option, "-agent")) continue;
        if (startsWith(option, classPathOption)) {
            options.push_back("-cp");
            options.push_back(option.substr(std::char_traits<char>::length(classPathOption)));
        } else {
            options.push_back(option);
        }
    }
    return options;
}

}  // namespace

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string join(const std::string& folder, const std::string& name) {
    return folder + platform::conventions().pathSeparator + name;
}

std::string CacheNames::stem() const { return join(folder, application + "." + identity + "." + key + "."); }

std::string CacheNames::ownFile(const std::string& extension) const {
    return stem() + "p" + std::to_string(platform::currentProcessId()) + "." + extension;
}

std::optional<CacheFile> parseCacheFile(const std::string& name, const std::string& application) {
    if (name.size() <= application.size() + 1 || name.compare(0, application.size() + 1, application + ".") != 0) {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::size_t pos = application.size() + 1;
    for (;;) {
        const std::size_t dot = name.find('.', pos);
        parts.push_back(name.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos));
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    if (parts.size() < 4 || !isHex(parts[0], 8) || !isHex(parts[1], 16)) return std::nullopt;
    CacheFile file;
    file.identity = parts[0];
    file.key = parts[1];
    const bool generation = parts[2].size() == 1 && isDecimal(parts[2]);
    if (generation) file.generation = parts[2][0] - '0';
    if (parts.size() == 5 && generation && isDecimal(parts[3]) && (parts[4] == "jsa" || parts[4] == "aot")) {
        file.kind = CacheFile::Kept;
        file.size = parts[3];
        file.extension = parts[4];
        return file;
    }
    if (parts.size() == 4 && generation && parts[3] == "retrain") {
        file.kind = CacheFile::Retrain;
        return file;
    }
    if (parts.size() == 4 && parts[2].size() > 1 && parts[2][0] == 'p' && isDecimal(parts[2].substr(1))) {
        file.kind = CacheFile::Own;
        file.extension = parts[3];
        return file;
    }
    return std::nullopt;
}

std::string extensionFor(CacheMechanism mechanism) {
    return mechanism == CacheMechanism::AheadOfTimeCache ? "aot" : "jsa";
}

std::optional<KeptCache> findKept(const CacheNames& names, CacheMechanism mechanism) {
    std::optional<KeptCache> found;
    std::vector<std::string> others;
    for (const auto& file : applicationFiles(names)) {
        const CacheFile& parts = file.second;
        if (parts.kind != CacheFile::Kept || parts.identity != names.identity || parts.key != names.key ||
            parts.extension != extensionFor(mechanism)) {
            continue;
        }
        const std::string path = join(names.folder, file.first);
        if (found) {
            others.push_back(path);  // two starts trained at once; one of them is enough
        } else if (isWholeCache(path, parts.size)) {
            found = KeptCache{path, parts.generation};
        } else {
            note("passed over " + path + ": not the file that was kept");
        }
    }
    if (found) {
        for (const std::string& path : others) removeNoted(path);
    }
    return found;
}

int retrainGeneration(const CacheNames& names) {
    int generation = 0;
    for (const auto& file : applicationFiles(names)) {
        if (file.second.kind == CacheFile::Retrain && file.second.identity == names.identity &&
            file.second.key == names.key) {
            generation = std::max(generation, file.second.generation);
        }
    }
    return generation;
}

void tidy(const CacheNames& names) {
    const std::int64_t now = platform::currentFileTime();
    std::map<std::string, std::int64_t> newestOfIdentity;  // other identities with a kept cache
    const auto files = applicationFiles(names);
    const std::string own = names.ownFile("");
    for (const auto& file : files) {
        const CacheFile& parts = file.second;
        const std::string path = join(names.folder, file.first);
        const auto facts = platform::fileFacts(path);
        if (parts.kind == CacheFile::Own) {
            // Only abandoned: a start or an assembly may be writing it right now. This start's
            // own ones are still to be assembled, however long ago the runtime last wrote them.
            if (facts && now - facts->modified >= abandonedAfter && path.compare(0, own.size(), own) != 0) {
                removeNoted(path);
            }
        } else if (parts.identity == names.identity) {
            // The same application and class path whose files changed: the old cache fits no more.
            if (parts.key != names.key) removeNoted(path);
        } else if (parts.kind == CacheFile::Kept && facts) {
            auto& newest = newestOfIdentity[parts.identity];
            newest = std::max(newest, facts->modified);
        }
    }
    // This identity is about to keep one: room for the newest others only.
    std::vector<std::pair<std::int64_t, std::string>> byAge;
    for (const auto& identity : newestOfIdentity) byAge.emplace_back(identity.second, identity.first);
    std::sort(byAge.begin(), byAge.end());
    const std::size_t room = keptIdentities - 1;
    for (std::size_t i = 0; i + room < byAge.size(); ++i) {
        for (const auto& file : files) {
            if (file.second.identity == byAge[i].second && file.second.kind != CacheFile::Own) {
                removeNoted(join(names.folder, file.first));
            }
        }
    }
}

void finishTraining(const Training& training) {
    // After the program, not before it: removing files changes nothing of this start.
    tidy(training.names);
    const auto recorded = platform::fileFacts(training.recorded);
    if (!recorded || recorded->size == 0) {
        // A halt, a crash, an option the runtime rejected: nothing to assemble.
        platform::removeFile(training.recorded);
        return note("not written: the runtime recorded nothing in " + training.recorded);
    }
    platform::Assembly assembly;
    assembly.program = training.javaProgram;
    assembly.produced = training.names.ownFile("tmp");
    assembly.keptPrefix = training.names.stem() + std::to_string(training.generation) + ".";
    assembly.keptSuffix = "." + extensionFor(training.mechanism);
    const std::string argumentFile = training.names.ownFile("args");
    std::string arguments;
    for (const std::string& option : assemblyOptions(training, assembly.produced)) arguments += argumentFileLine(option);
    assembly.removeAfter = {argumentFile, training.recorded};
    for (const auto& mark : applicationFiles(training.names)) {
        if (mark.second.kind == CacheFile::Retrain && mark.second.identity == training.names.identity) {
            assembly.removeAfter.push_back(join(training.names.folder, mark.first));
        }
    }
    assembly.arguments = {"@" + argumentFile};
    if (!platform::writeWholeFile(argumentFile, arguments) || !platform::startAssembly(assembly)) {
        platform::removeFile(argumentFile);
        platform::removeFile(training.recorded);
        return note("not written: the assembly by " + training.javaProgram + " cannot be started");
    }
    note("assembly of " + assembly.keptPrefix + "<size>" + assembly.keptSuffix + " by " + training.javaProgram +
         " starts after this process");
}

ClassLoads countClassLoads(const std::string& log) {
    ClassLoads loads;
    std::size_t pos = 0;
    while (pos < log.size()) {
        std::size_t end = log.find('\n', pos);
        if (end == std::string::npos) end = log.size();
        const std::size_t source = log.find(" source: ", pos);
        if (source != std::string::npos && source < end) {
            const std::size_t from = source + 9;
            if (log.compare(from, 19, "shared objects file") == 0) {
                ++loads.shared;
            } else if (log.compare(from, 4, "jrt:") == 0 || log.compare(from, 5, "file:") == 0 ||
                       log.compare(from, 4, "jar:") == 0) {
                ++loads.unshared;  // generated classes (lambdas, proxies, defined bytes) are no one's to keep
            }
        }
        pos = end + 1;
    }
    return loads;
}

Verdict judge(const ClassLoads& loads, int generation) {
    const std::size_t total = loads.shared + loads.unshared;
    if (loads.unshared < missingFloor || loads.unshared * 4 <= total) return Verdict::Keep;
    if (generation < retrainLimit) return Verdict::Retrain;
    return loads.unshared * 2 > total ? Verdict::TurnOff : Verdict::Keep;
}

void finishUse(const Use& use) {
    const auto facts = platform::fileFacts(use.log);
    const std::string log = facts && facts->size <= logLimit ? platform::readFileStart(use.log, logLimit) : std::string();
    platform::removeFile(use.log);
    if (log.empty()) return;  // the user's own logging options may have turned it off
    const ClassLoads loads = countClassLoads(log);
    const Verdict verdict = judge(loads, use.kept.generation);
    note(std::to_string(loads.shared) + " classes from " + use.kept.path + ", " + std::to_string(loads.unshared) +
         " from elsewhere");
    if (verdict == Verdict::Keep) return;
    // The mark first: should the removal fail, the next start still knows what to do.
    const int next = verdict == Verdict::Retrain ? use.kept.generation + 1 : retrainLimit + 1;
    platform::writeWholeFile(use.names.stem() + std::to_string(next) + ".retrain", "");
    removeNoted(use.kept.path);
    note(verdict == Verdict::Retrain ? "the next start trains anew" : "turned off for this key: the runtime does not use its archives");
}

}  // namespace qn::cache

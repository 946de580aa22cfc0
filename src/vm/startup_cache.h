#pragma once
// The startup cache: an archive of the application's classes that the runtime maps at start
// instead of loading and verifying every class again. A training start notes what it loads; once
// it has ended, a detached helper assembles the archive; later starts hand it to the runtime and
// tell by the runtime's class-load log whether it still serves. A cache only ever adds options:
// whatever goes wrong, the start goes on as without it.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/cache_files.h"

namespace qn {

class Launcher;
class SettingsReader;

enum class CacheMechanism {
    None,              // before 13: no archive of application classes
    StaticArchive,     // 13 to 24: a class list, then an archive dumped from it
    AheadOfTimeCache,  // 25 and later: the same, with the classes linked ahead of time
};

CacheMechanism cacheMechanismFor(int featureVersion);
/// The feature version named by JAVA_VERSION in a runtime's release file ("1.8.0_392" is 8,
/// "17.0.15" is 17); 0 when the text names none.
int featureVersionFromRelease(const std::string& releaseText);

/// Everything the runtime checks before it maps an archive.
struct CacheKeyInputs {
    std::string runtimeLibrary;
    std::optional<platform::FileFacts> library;
    std::optional<platform::FileFacts> baseArchive;  // the runtime's own archive beside the library
    std::string releaseVersion;                      // JAVA_VERSION and JAVA_RUNTIME_VERSION
    std::vector<std::pair<std::string, std::optional<platform::FileFacts>>> classPath;
    std::vector<std::string> options;                // only those that decide whether an archive fits
};
/// 16 hex digits; equal inputs give equal keys, any change gives another.
std::string cacheKey(const CacheKeyInputs& inputs);

/// Where a manifest's Class-Path URL leads from the jar that names it; nothing for URLs the
/// runtime does not open as files (other schemes, other hosts) and for folders.
std::optional<std::string> manifestEntryPath(const std::string& jar, const std::string& url);
/// The class path entries with every jar their manifests name, followed as the runtime follows
/// them: each after the jar that names it, each once.
std::vector<std::string> reachedClassPath(const std::vector<std::string>& entries);

/// True when an option can make an archive unfit (heap layout, collector, modules, agents...).
bool optionDecidesArchiveFit(const std::string& option);
/// True when an option already manages class sharing; the launcher then stays out of it.
bool optionControlsSharing(const std::string& option);

/// With "Startup Cache" on, appends to the launcher's options what uses or writes the cache.
/// Call after the class path and the user's options are in place.
void addStartupCacheOptions(Launcher& launcher, const SettingsReader& reader);

/// Completes what the start began (runs at process exit; later calls do nothing): a training
/// start's assembly is started, a warm start's class-load log judged.
void finishStartupCache();

}  // namespace qn

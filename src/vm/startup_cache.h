#pragma once
// The startup cache: an archive of the application's classes that the runtime maps at start
// instead of loading and verifying every class again. One training start writes it (the runtime
// dumps at exit, the launcher completes and keeps the file), later starts hand it to the runtime.
// A cache only ever adds options: whatever goes wrong, the start goes on as without it.

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
    DynamicArchive,    // 13 to 18: written at exit, used by later starts
    AutomaticArchive,  // 19 to 24: the same archive through the runtime's own automatic mode
    AheadOfTimeCache,  // 25 and later: a training start records, a helper run assembles
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

/// True when an option can make an archive unfit (heap layout, collector, modules, agents...).
bool optionDecidesArchiveFit(const std::string& option);
/// True when an option already manages class sharing; the launcher then stays out of it.
bool optionControlsSharing(const std::string& option);

/// With "Startup Cache" on, appends to the launcher's options what uses or writes the cache.
/// Call after the class path and the user's options are in place.
void addStartupCacheOptions(Launcher& launcher, const SettingsReader& reader);

/// Completes the cache a training start has written (runs at process exit; later calls do nothing).
void finishStartupCache();

}  // namespace qn

#pragma once
// The startup cache's files in the user's cache folder, used only by startup_cache.cpp.
//
//   <application>.<identity>.<key>.<generation>.<size>.<jsa|aot>   a kept cache
//   <application>.<identity>.<key>.<generation>.retrain            the next start trains anew
//   <application>.<identity>.<key>.p<process>.<list|tmp|args|log>  a start's own files
//
// The identity names what a cache is for (the runtime and the class path as written); the key
// adds everything that decides whether an archive still fits. One identity keeps one key.

#include <optional>
#include <string>
#include <vector>

#include "vm/startup_cache.h"

namespace qn::cache {

// Option texts both halves write.
inline constexpr char classPathOption[] = "-Djava.class.path=";
inline constexpr char quietSharing[] = "-Xlog:cds*=off";  // the runtime's archive messages go to stdout
inline constexpr char quietAot[] = "-Xlog:aot*=off";      // a tag the runtime knows from 25 on

bool startsWith(const std::string& text, const char* prefix);
/// A name in a folder, with the platform's separator.
std::string join(const std::string& folder, const std::string& name);

/// Caches of one application kept for at most this many identities; the oldest go first.
constexpr int keptIdentities = 4;
/// A cache is trained anew at most this many times for one key.
constexpr int retrainLimit = 2;

struct CacheNames {
    std::string folder;
    std::string application;  // the executable's base name
    std::string identity;     // 8 hex digits
    std::string key;          // 16 hex digits
    /// "<application>.<identity>.<key>." with the folder in front.
    std::string stem() const;
    /// This process's own file of the given kind.
    std::string ownFile(const std::string& extension) const;
};

/// A file name of the folder, taken apart; nothing when it is not one of the forms above.
struct CacheFile {
    std::string identity;
    std::string key;
    enum Kind { Kept, Retrain, Own } kind = Kept;
    int generation = 0;       // kept caches and retrain marks
    std::string size;         // kept caches: the size when kept, in decimal
    std::string extension;    // kept caches and a start's own files
};
std::optional<CacheFile> parseCacheFile(const std::string& name, const std::string& application);

std::string extensionFor(CacheMechanism mechanism);

struct KeptCache {
    std::string path;
    int generation = 0;
};
/// The whole kept cache of this key, if any; other kept files of the key are removed.
std::optional<KeptCache> findKept(const CacheNames& names, CacheMechanism mechanism);
/// The generation a retrain mark asks for; 0 without one.
int retrainGeneration(const CacheNames& names);
/// Removes the other keys of this identity, abandoned files of other starts and the caches of the
/// oldest identities past keptIdentities.
void tidy(const CacheNames& names);

/// What a training start leaves for the end of the process.
struct Training {
    CacheMechanism mechanism = CacheMechanism::None;
    CacheNames names;
    int generation = 0;
    std::string recorded;     // the class list
    std::string javaProgram;  // assembles the cache
    std::vector<std::string> options;  // the start's options, for the assembly
};
/// Tidies the folder and hands the recorded file to a detached assembly; nothing waits for it.
void finishTraining(const Training& training);

/// Classes a start loaded: from the archive, and from files that an archive could have held.
struct ClassLoads {
    std::size_t shared = 0;
    std::size_t unshared = 0;
};
/// Counts the lines of the runtime's class-load log.
ClassLoads countClassLoads(const std::string& log);
enum class Verdict { Keep, Retrain, TurnOff };
/// Keep an archive that served the start; train anew when many classes were not in it, up to
/// retrainLimit times; past that, stop handing over an archive that held fewer than half.
Verdict judge(const ClassLoads& loads, int generation);

/// What a start that used a cache leaves for the end of the process.
struct Use {
    CacheNames names;
    KeptCache kept;
    std::string log;  // the runtime's class-load log of this start
};
/// Reads the start's class-load log and retrains or turns the cache off as judge() says.
void finishUse(const Use& use);

}  // namespace qn::cache

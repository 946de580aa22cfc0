#pragma once
// What the startup cache asks of the system: the user's cache folder, facts about files, small
// reads, atomic replacement and one detached helper process. Defined once per backend.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qn::platform {

struct FileFacts {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since 1970; only ever compared and hashed
    bool isFolder = false;
};

/// Size and modification time of a file or folder; nothing when it cannot be read.
std::optional<FileFacts> fileFacts(const std::string& path);
/// The same clock as FileFacts::modified.
std::int64_t currentFileTime();

/// The user's local cache folder (%LOCALAPPDATA%; $XDG_CACHE_HOME or ~/.cache); empty when unknown.
std::string userCacheFolder();
/// True when the folder exists afterwards (made now or before).
bool ensureFolder(const std::string& path);
/// Creates an empty file that did not exist; false when it existed or cannot be made.
bool createNewFile(const std::string& path);
/// Writes a whole file (created or truncated); false on any failure.
bool writeWholeFile(const std::string& path, const std::string& content);
/// At most maxBytes from the start of a file; empty when it cannot be read.
std::string readFileStart(const std::string& path, std::size_t maxBytes);
/// At most maxBytes from `offset` on; fewer at the file's end, empty when it cannot be read.
std::string readFileAt(const std::string& path, std::uint64_t offset, std::size_t maxBytes);
/// Moves a file over another one in one step; false when the system refuses.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
/// Bytes free for this user on the folder's volume; nothing when unknown.
std::optional<std::uint64_t> freeDiskSpace(const std::string& folder);

/// A helper run that assembles a file once this process has ended.
struct Assembly {
    std::string program;
    std::vector<std::string> arguments;
    std::string produced;  // the file the program writes
    // When the program ends with exit code 0 and produced is there, it is moved in one step to
    // keptPrefix + its size in decimal + keptSuffix; otherwise it is removed.
    std::string keptPrefix;
    std::string keptSuffix;
    std::vector<std::string> removeAfter;  // files of this start that go once the program ended
};

/// Starts the assembly detached from this process (its own session, no window, standard streams
/// on the null device, no handle of ours), at low priority. On POSIX the program starts once this
/// process has ended; a terminated assembly still removes what it produced. False when it could
/// not be started.
bool startAssembly(const Assembly& assembly);

}  // namespace qn::platform

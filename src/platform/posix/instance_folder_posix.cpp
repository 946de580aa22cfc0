// The single-instance channel's folder: private to this user, chosen once per process.

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/instance_channel_posix.h"
#include "trace/trace.h"

namespace qn::platform::channel {

// --- Names --------------------------------------------------------------------------------------

std::uint64_t nameHash(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint32_t ownThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

namespace {

std::string hexHash(const std::string& text) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(nameHash(text)));
    return buffer;
}

// --- The user's private folder ------------------------------------------------------------------

// The longest entry of the folder is a thread's socket; its path must fit a socket address.
constexpr std::size_t longestEntry = sizeof "/t4294967295";

const char* folderFault(const struct stat& info) {
    if (!S_ISDIR(info.st_mode)) return "not a folder";
    if (info.st_uid != ::geteuid()) return "owned by another user";
    if ((info.st_mode & 077) != 0) return "open to other users";
    return nullptr;
}

bool isPrivateFolder(const std::string& path) {
    struct stat info;
    const char* fault = ::lstat(path.c_str(), &info) != 0 ? "not there" : folderFault(info);
    if (fault && trace::enabled()) trace::line("instance", "passed over folder " + path + ": " + fault);
    return fault == nullptr;
}

bool makePrivateFolder(const std::string& path) {
    if (path.size() + longestEntry > sizeof(sockaddr_un::sun_path)) return false;
    // A folder someone else made first under this name fails the checks and is passed over.
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateFolder(path);
}

// A folder of the user's home, where nobody else can make anything: it must be the user's and
// writable by nobody else, as must the home itself.
bool isUsersOwnFolder(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 022) == 0;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/' && isUsersOwnFolder(home)) return home;
    // A HOME kept from another user (sudo may keep it) is not this user's: the password database's.
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || found->pw_dir[0] != '/' || !isUsersOwnFolder(found->pw_dir)) {
        return {};
    }
    return found->pw_dir;
}

// In the user's cache folder, one folder per machine: a home shared between machines must not let
// a start meet a first instance that runs elsewhere.
std::string homeChannelFolder() {
    const std::string home = homeFolder();
    if (home.empty()) return {};
    const std::string cache = home + "/.cache";
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) return {};
    if (!isUsersOwnFolder(cache)) {
        if (trace::enabled()) trace::line("instance", "passed over folder " + cache + ": not the user's own");
        return {};
    }
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0] || std::strchr(host, '/')) {
        std::snprintf(host, sizeof host, "localhost");
    }
    return cache + "/qnlauncher-" + host;
}

// Every start of a user meets in the same folder whatever its environment says, and no other
// user can take that folder first: the user's runtime folder, else a folder in the user's home,
// and only without either the shared /tmp.
std::string chooseFolder() {
    const std::string uid = std::to_string(::geteuid());
    const std::string userRuntime = "/run/user/" + uid;
    if (::access(userRuntime.c_str(), F_OK) == 0 && isPrivateFolder(userRuntime)) {
        const std::string folder = userRuntime + "/qnlauncher";
        if (makePrivateFolder(folder)) return folder;
    }
    const std::string inHome = homeChannelFolder();
    if (!inHome.empty() && makePrivateFolder(inHome)) return inHome;
    // Anyone can make a folder under /tmp first; a few names in a fixed order keep such a squatter
    // from more than pushing us on, and every start of this user walks the same order.
    const std::string shared = "/tmp/qnlauncher-" + uid;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string folder = attempt == 0 ? shared : shared + "." + std::to_string(attempt);
        if (makePrivateFolder(folder)) return folder;
    }
    return {};
}

}  // namespace

// Chosen once per process: every thread of it must meet the others in the same place.
const std::string& channelFolder() {
    static const std::string* const folder = [] {
        auto* chosen = new std::string(chooseFolder());
        if (trace::enabled()) {
            trace::line("instance", chosen->empty() ? "no private folder for the channel"
                                                    : "channel folder " + *chosen);
        }
        return chosen;
    }();
    return *folder;
}

std::string entryPath(const std::string& name, const char* suffix) {
    return channelFolder() + "/" + hexHash(name) + suffix;
}

std::string threadSocketPath(std::uint32_t threadId) {
    return channelFolder() + "/t" + std::to_string(threadId);
}

// An entry of the folder is used only when it is this user's and nobody else's.
bool ownedPrivately(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 &&
           info.st_nlink == 1;
}

bool threadExists(std::uint32_t threadId) {
    struct stat info;
    return ::stat(("/proc/" + std::to_string(threadId)).c_str(), &info) == 0;
}

// Sockets of threads that ended without their teardown (a killed process) stay as files; a thread
// that gets the same id later replaces its own, the rest go when a stale block is taken over.
void removeStaleSockets() {
    const std::string& folder = channelFolder();
    DIR* const listing = ::opendir(folder.c_str());
    if (!listing) return;
    while (const dirent* entry = ::readdir(listing)) {
        const char* name = entry->d_name;
        if (name[0] != 't' || name[1] == '\0' || std::strspn(name + 1, "0123456789") != std::strlen(name + 1)) {
            continue;
        }
        const unsigned long threadId = std::strtoul(name + 1, nullptr, 10);
        if (threadId == 0 || threadId > UINT32_MAX) continue;
        if (!threadExists(static_cast<std::uint32_t>(threadId))) ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(listing);
}

}  // namespace qn::platform::channel

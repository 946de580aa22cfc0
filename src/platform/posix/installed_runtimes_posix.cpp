// Runtimes installed as folders: the folders of /usr/lib/jvm and JAVA_HOME that hold a release file.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/installed_runtimes.h"

namespace qn::platform {

namespace {

const char* const kRuntimeRoot = "/usr/lib/jvm";

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

/// JAVA_VERSION of a release file, without its quotes; empty when there is none.
std::string releaseVersion(const std::string& home) {
    std::ifstream release(home + "release");
    std::string line;
    const std::string key = "JAVA_VERSION=";
    while (std::getline(release, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

std::vector<std::string> runtimeFolders() {
    std::vector<std::string> folders;
    if (const char* javaHome = std::getenv("JAVA_HOME"); javaHome && *javaHome) {
        folders.emplace_back(javaHome);
    }
    std::vector<std::string> installed;
    if (DIR* root = ::opendir(kRuntimeRoot)) {
        while (const dirent* entry = ::readdir(root)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") installed.push_back(std::string(kRuntimeRoot) + "/" + name);
        }
        ::closedir(root);
    }
    std::sort(installed.begin(), installed.end());
    folders.insert(folders.end(), installed.begin(), installed.end());
    return folders;
}

}  // namespace

std::vector<InstalledRuntime> installedRuntimes() {
    std::vector<InstalledRuntime> runtimes;
    std::set<std::string> seen;  // Debian links one runtime under several names
    for (std::string folder : runtimeFolders()) {
        char resolved[PATH_MAX];
        if (!::realpath(folder.c_str(), resolved) || !seen.insert(resolved).second) continue;
        if (folder.back() != '/') folder += '/';
        if (!exists(folder + "release")) continue;
        const std::string version = releaseVersion(folder);
        runtimes.push_back({folder, version, exists(folder + "bin/javac")});
    }
    return runtimes;
}

}  // namespace qn::platform

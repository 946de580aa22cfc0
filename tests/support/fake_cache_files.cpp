// The startup cache's file operations on the fake file system.

#include "fake_platform.h"
#include "platform/cache_files.h"

namespace qn::platform {

namespace {

fake::FakeSystem& fs() { return fake::system(); }

std::string parentOf(const std::string& path) {
    const std::size_t cut = path.rfind(fs().conventions->pathSeparator);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool writable(const std::string& path) { return fs().unwritableFolders.count(parentOf(path)) == 0; }

}  // namespace

std::optional<FileFacts> fileFacts(const std::string& path) {
    FileFacts facts;
    const auto time = fs().fileTimes.find(path);
    facts.modified = time == fs().fileTimes.end() ? 0 : time->second;
    const auto file = fs().files.find(path);
    if (file != fs().files.end()) {
        facts.size = file->second.size();
        return facts;
    }
    if (fs().directories.count(path)) {
        facts.isFolder = true;
        return facts;
    }
    return std::nullopt;
}

std::int64_t currentFileTime() { return fs().now; }

std::string userCacheFolder() {
    if (fs().conventions->style == PathStyle::Windows) return environmentVariable("LOCALAPPDATA").value_or("");
    const auto cacheHome = environmentVariable("XDG_CACHE_HOME");
    if (cacheHome && !cacheHome->empty() && (*cacheHome)[0] == '/') return *cacheHome;
    const auto home = environmentVariable("HOME");
    return home && !home->empty() ? *home + "/.cache" : std::string();
}

bool ensureFolder(const std::string& path) {
    if (fs().directories.count(path)) return true;
    if (!writable(path) || !fs().directories.count(parentOf(path))) return false;
    fs().directories.insert(path);
    return true;
}

bool createNewFile(const std::string& path) {
    if (!writable(path) || fs().files.count(path) || !fs().directories.count(parentOf(path))) return false;
    fs().files[path] = "";
    fs().fileTimes[path] = fs().now;
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& content) {
    if (!writable(path) || !fs().directories.count(parentOf(path))) return false;
    fs().files[path] = content;
    fs().fileTimes[path] = fs().now;
    return true;
}

std::string readFileStart(const std::string& path, std::size_t maxBytes) {
    const auto file = fs().files.find(path);
    return file == fs().files.end() ? std::string() : file->second.substr(0, maxBytes);
}

bool replaceFile(const std::string& from, const std::string& to) {
    const auto file = fs().files.find(from);
    if (file == fs().files.end() || !writable(to)) return false;
    fs().files[to] = file->second;
    fs().fileTimes[to] = fs().fileTimes[from];
    fs().files.erase(from);
    fs().fileTimes.erase(from);
    return true;
}

bool removeFile(const std::string& path) {
    fs().fileTimes.erase(path);
    return fs().files.erase(path) > 0;
}

std::optional<std::uint64_t> freeDiskSpace(const std::string&) { return fs().freeSpace; }

std::string readFileAt(const std::string& path, std::uint64_t offset, std::size_t maxBytes) {
    const auto file = fs().files.find(path);
    if (file == fs().files.end() || offset > file->second.size()) return {};
    return file->second.substr(static_cast<std::size_t>(offset), maxBytes);
}

bool startAssembly(const Assembly& assembly) {
    if (!fs().assemblyStarts) return false;
    fs().pendingAssemblies.push_back(assembly);
    return true;
}

}  // namespace qn::platform

namespace qn::fake {

void runAssemblies() {
    for (const platform::Assembly& assembly : system().pendingAssemblies) {
        const auto produced = system().files.find(assembly.produced);
        if (produced != system().files.end()) {
            system().fileTimes[assembly.produced] = system().now;  // written when it ran
            platform::replaceFile(assembly.produced,
                                  assembly.keptPrefix + std::to_string(produced->second.size()) + assembly.keptSuffix);
        }
        for (const std::string& file : assembly.removeAfter) platform::removeFile(file);
    }
    system().pendingAssemblies.clear();
}

}  // namespace qn::fake

#include "fake_platform.h"
#include "fake_instance_channel.h"

#include <algorithm>
#include <cctype>

#include "text/percent_references.h"
#include "text/profile_format.h"
#include "trace/trace.h"

namespace qn::fake {

namespace {

std::map<int, std::string> realStringTable() {
    return {
#define QN_STRING(id, text) {id, text},
#include "res/string_table.inc"
#undef QN_STRING
    };
}

FakeSystem& instance() {
    static FakeSystem system;
    return system;
}

bool wildcardMatch(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return wildcardMatch(pattern + 1, name) || (*name && wildcardMatch(pattern, name + 1));
    if (*name == '\0') return false;
    if (*pattern == '?' || std::tolower(static_cast<unsigned char>(*pattern)) ==
                               std::tolower(static_cast<unsigned char>(*name)))
        return wildcardMatch(pattern + 1, name + 1);
    return false;
}

char separator() { return instance().conventions->pathSeparator; }

std::string parentOf(const std::string& path) {
    const std::size_t cut = path.rfind(separator());
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

FakeSystem& system() { return instance(); }

void reset() {
    const std::uint64_t resets = instance().resets + 1;
    instance() = FakeSystem{};
    instance().resets = resets;
    instance().strings = realStringTable();
    resetChannel();
    // Every test starts untraced; one that sets QN_LAUNCHER_TRACE gets a fresh destination.
    trace::restart();
}

void addDirectory(const std::string& path) {
    for (std::string folder = path; !folder.empty() && folder.back() != ':'; folder = parentOf(folder)) {
        instance().directories.insert(folder);
        if (folder.find(separator()) == std::string::npos) break;
    }
}

void addFile(const std::string& path, const std::string& content) {
    instance().files[path] = content;
    addDirectory(parentOf(path));
}

}  // namespace qn::fake

namespace qn::platform {

using fake::instance;

const PlatformConventions& conventions() { return *instance().conventions; }

bool moduleFileName(std::string& path, std::uint32_t& errorCode) {
    if (!instance().modulePath) {
        errorCode = instance().moduleError;
        return false;
    }
    path = *instance().modulePath;
    return true;
}

void useSystemLocale() {}

CommandLine commandLine() { return instance().commandLine; }

bool isNtFamily() { return instance().ntFamily; }

std::size_t nextCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    const bool lead = instance().leadBytes.count(static_cast<unsigned char>(text[pos])) > 0;
    return std::min(text.size(), pos + (lead && pos + 1 < text.size() ? 2 : 1));
}

bool isSpaceCharacter(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return false;
    const char c = text[pos];
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::string> environmentVariable(const std::string& name) {
    const auto it = instance().environment.find(name);
    if (it == instance().environment.end()) return std::nullopt;
    return it->second;
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    instance().environment[name] = value;
    return true;
}

bool expandEnvironmentStrings(const std::string& text, std::string& expanded) {
    expanded = expandPercentReferences(text, environmentVariable);
    return true;
}

std::uint32_t profileString(const std::string& section, const std::string& key, char* buffer,
                            std::uint32_t size, const std::string& file) {
    instance().profileBufferSizes.push_back(size);
    const auto it = instance().files.find(file);
    const std::string value =
        it == instance().files.end() || instance().unreadableFiles.count(file) ? std::string() : profile::lookup(it->second, section, key).value_or("");
    return profile::copyToBuffer(value, buffer, size);
}

bool profileFileReadable(const std::string& file) {
    return instance().files.count(file) > 0 && instance().unreadableFiles.count(file) == 0;
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
    if (!instance().directories.count(fake::parentOf(file))) return false;
    if (instance().unreadableFiles.count(file)) return false;
    std::string& content = instance().files[file];
    content = profile::update(content, section, key, value);
    return true;
}

bool pathExists(const std::string& path) {
    instance().searchedPaths.push_back(path);
    return instance().files.count(path) > 0 || instance().directories.count(path) > 0;
}

std::vector<std::string> findFiles(const std::string& searched) {
    instance().searchedPaths.push_back(searched);
    // Windows' file search takes "/" for "\\".
    std::string pattern = searched;
    if (instance().conventions->style == PathStyle::Windows) {
        std::replace(pattern.begin(), pattern.end(), '/', '\\');
    }
    const std::string folder = fake::parentOf(pattern);
    const std::string namePattern = pattern.substr(folder.empty() ? 0 : folder.size() + 1);
    std::vector<std::string> names;
    if (instance().directories.count(folder)) {
        for (const char* special : {".", ".."}) {
            if (fake::wildcardMatch(namePattern.c_str(), special)) names.emplace_back(special);
        }
    }
    auto consider = [&](const std::string& path) {
        if (fake::parentOf(path) != folder) return;
        const std::string name = path.substr(folder.empty() ? 0 : folder.size() + 1);
        if (fake::wildcardMatch(namePattern.c_str(), name.c_str())) names.push_back(name);
    };
    std::set<std::string> entries;
    for (const auto& file : instance().files) entries.insert(file.first);
    for (const auto& directory : instance().directories) entries.insert(directory);
    for (const auto& entry : entries) consider(entry);
    return names;
}

void createDirectory(const std::string& path) { instance().directories.insert(path); }

std::optional<std::string> readFileHead(const std::string& path, std::size_t size) {
    const auto it = instance().files.find(path);
    if (it == instance().files.end()) return std::nullopt;
    return it->second.substr(0, size);
}

std::string realPath(const std::string& path) {
    const auto it = instance().links.find(path);
    return it == instance().links.end() ? path : it->second;
}

std::optional<std::string> productVersion(const std::string& path) {
    const auto it = instance().productVersions.find(path);
    if (it == instance().productVersions.end()) return std::nullopt;
    return it->second;
}

ImageMachine ownImageMachine() { return instance().ownMachine; }

void setCurrentDirectory(const std::string& path) { instance().currentDirectory = path; }

std::string fullPath(const std::string& path) {
    const PlatformConventions& conventions = *instance().conventions;
    if (path.empty() || conventions.isAbsolute(path) || path[0] == conventions.pathSeparator) return path;
    return conventions.withTrailingSeparator(instance().currentDirectory) + path;
}

bool sameFile(const std::string& first, const std::string& second) {
    const std::string a = fullPath(first);
    const std::string b = fullPath(second);
    if (!instance().files.count(a) || !instance().files.count(b)) return false;
    // Windows names match in any case.
    return instance().conventions->style == PathStyle::Windows
               ? a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                     return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
                 })
               : a == b;
}

std::optional<std::string> loadString(int id) {
    const auto it = instance().strings.find(id);
    if (it == instance().strings.end()) return std::nullopt;
    return it->second;
}

void passOnRuntimeText(void* stream, const std::string& text) {
    instance().runtimeText.emplace_back(stream, text);
}

void setApplicationName(const std::string& name) { instance().applicationName = name; }

void showErrorBox(WindowHandle owner, const std::string& text) {
    instance().errorBoxes.push_back(text);
    instance().errorBoxOwners.push_back(owner);
}

std::string lastErrorText() { return instance().lastErrorText; }

void* loadLibrary(const std::string& path, std::uint32_t& errorCode) {
    const auto it = instance().libraries.find(path);
    if (it == instance().libraries.end()) {
        errorCode = instance().libraryError;
        return nullptr;
    }
    return &it->second;
}

void* loadRuntimeLibrary(const std::string& path, const std::string& dependencyFolder,
                         std::uint32_t& errorCode) {
    instance().runtimeLibraryLoads.push_back(path + " with " + dependencyFolder);
    return loadLibrary(path, errorCode);
}

void* librarySymbol(void* library, const char* name, std::uint32_t& errorCode) {
    auto* fakeLibrary = static_cast<fake::FakeLibrary*>(library);
    const auto it = fakeLibrary->symbols.find(name);
    if (it == fakeLibrary->symbols.end()) {
        errorCode = 127;
        return nullptr;
    }
    return it->second;
}

class Thread {
public:
    std::uint32_t exitCode = 0;
    std::uint32_t id = 0;
};

void ThreadDeleter::operator()(Thread* thread) const { delete thread; }

// Unit tests run no threads: the body runs at once, on the calling thread.
ThreadPtr startThread(std::uint32_t stackSize, ThreadBody body, void* parameter) {
    if (instance().refuseThreads) return nullptr;
    instance().threadStackSizes.push_back(stackSize);
    ThreadPtr thread(new Thread);
    if (instance().deferThreads) {
        instance().deferredThreads.emplace_back(body, parameter);
        return thread;
    }
    thread->id = instance().nextThreadId++;
    thread->exitCode = body(parameter);
    return thread;
}

std::uint32_t joinThread(Thread& thread) { return thread.exitCode; }

std::uint32_t threadId(const Thread& thread) { return thread.id; }

// The body has already run to its end when startThread returned.
bool threadIsActive(Thread&) {
    ++instance().threadActivityQueries;
    return false;
}

void sleepForever() { std::abort(); }

MemoryStatus memoryStatus() { return instance().memory; }

}  // namespace qn::platform

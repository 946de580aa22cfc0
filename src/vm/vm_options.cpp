#include "vm/vm_options.h"

#include <algorithm>
#include <iterator>

#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>

#include "launcher/command_line.h"
#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "res/resource_ids.h"
#include "runtime/runtime_search.h"
#include "trace/trace.h"
#include "vm/environment.h"
#include "vm/launcher_error.h"
#include "vm/path_lists.h"
#include "vm/per_user_options.h"
#include "vm/startup_cache.h"

namespace qn {

namespace {

const char* const libraryPathOption = "-Djava.library.path=";
const char* const classPathOption = "-Djava.class.path=";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// The folder holding the runtime's bin: the path up to and including the separator that ends it,
/// two levels above the library's own folder; empty when the path is too short to hold one.
std::string runtimeHomeWithSeparator(const std::string& jvmLibraryPath) {
    const PlatformConventions& conventions = platform::conventions();
    // A flavour path of this platform names the home exactly (Linux layouts differ in depth).
    if (conventions.style == PathStyle::Posix) {
        for (const auto* flavours : {&conventions.clientFirstFlavours, &conventions.serverOnlyFlavours}) {
            for (const JvmFlavour& flavour : *flavours) {
                const std::string& tail = flavour.relativePath;
                if (jvmLibraryPath.size() > tail.size() &&
                    jvmLibraryPath.compare(jvmLibraryPath.size() - tail.size(), tail.size(), tail) == 0) {
                    return jvmLibraryPath.substr(0, jvmLibraryPath.size() - tail.size());
                }
            }
        }
    }
    std::string path = jvmLibraryPath;
    for (int i = 0; i < 3; ++i) {
        const std::size_t cut = platform::conventions().lastSeparator(path);
        if (cut == std::string::npos) return {};
        path.erase(i == 2 ? cut + 1 : cut);
    }
    return path;
}

/// A list written in the configuration file (items separated by ";") in the platform's form.
std::string asPlatformList(std::string list) {
    const char separator = platform::conventions().listSeparator;
    if (separator != ';') {
        for (char& c : list) {
            if (c == ';') c = separator;
        }
    }
    return list;
}

/// True for the platform's separator and, on Windows, for "/", which the system's file search
/// takes in its place ("/" is never the second byte of a double-byte character).
bool isFolderSeparator(char c) {
    const PlatformConventions& conventions = platform::conventions();
    return c == conventions.pathSeparator || (conventions.style == PathStyle::Windows && c == '/');
}

/// Index of the separator that ends the folder part of a search pattern, or npos.
std::size_t lastFolderSeparator(const std::string& pattern) {
    std::size_t cut = platform::conventions().lastSeparator(pattern);
    if (platform::conventions().style == PathStyle::Windows) {
        const std::size_t slash = pattern.rfind('/');
        if (slash != std::string::npos && (cut == std::string::npos || slash > cut)) cut = slash;
    }
    return cut;
}

/// Numbers of a size list: from the first digit or ":" up to, not including, the last character.
/// Narrow lists wrap at 32 bits as the 32-bit build's arithmetic does; wide ones saturate.
struct SizeList {
    std::string prefix;
    std::vector<std::uint64_t> numbers;
};

SizeList readSizeList(const std::string& token, bool wide) {
    SizeList list;
    const std::size_t end = token.empty() ? 0 : token.size() - 1;
    std::size_t start = 0;
    while (start < end && !isDigit(token[start]) && token[start] != ':') ++start;
    list.prefix = token.substr(0, start);
    if (start == end) return list;
    list.numbers.push_back(0);
    for (std::size_t i = start; i < end; ++i) {
        if (token[i] == ':') {
            list.numbers.push_back(0);
        } else if (isDigit(token[i])) {
            std::uint64_t& number = list.numbers.back();
            const std::uint64_t digit = static_cast<std::uint64_t>(token[i] - '0');
            if (!wide) {
                number = static_cast<std::uint32_t>(number * 10 + digit);
            } else if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                number = std::numeric_limits<std::uint64_t>::max();
            } else {
                number = number * 10 + digit;
            }
        }
    }
    return list;
}

std::uint64_t sizeListNumber(const SizeList& list, std::size_t index) {
    return index < list.numbers.size() ? list.numbers[index] : 0;
}

std::uint64_t megabytesInK(std::uint64_t megabytes) {
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 1024;
    return megabytes > limit ? std::numeric_limits<std::uint64_t>::max() : megabytes * 1024;
}

}  // namespace

RuntimeFolders runtimeFolders(const std::string& jvmLibraryPath) {
    RuntimeFolders folders;
    const std::string home = runtimeHomeWithSeparator(jvmLibraryPath);
    if (platform::conventions().style == PathStyle::Windows) {
        // bin\client\jvm.dll: the dependencies live in bin, the folder above the flavour folder.
        folders.bin = platform::conventions().withoutComponents(jvmLibraryPath, 2);
        folders.lib = home + "lib";
    } else {
        // lib/server/libjvm.so: the native libraries live in the folder above the flavour folder,
        // the programs in the home's bin.
        folders.bin = home + "bin";
        folders.lib = platform::conventions().withoutComponents(jvmLibraryPath, 2);
    }
    return folders;
}

std::string applicationFolder(const Launcher& launcher) {
    std::string path;
    std::uint32_t errorCode = 0;
    if (!platform::moduleFileName(path, errorCode)) {
        reportModulePathError(errorCode, launcher.messageOwner);
        return {};
    }
    const std::size_t cut = platform::conventions().lastSeparator(path);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

namespace {

/// The library path: the configured folders (a relative one taken in the application folder),
/// the application folder, the inherited search path and the runtime's lib folder. Nothing, after
/// the report, when one of the launcher's own items cannot be put in a list.
std::optional<std::string> libraryPathList(const Launcher& launcher, const std::optional<std::string>& inherited,
                                           const std::string& runtimeLib) {
    const PlatformConventions& conventions = platform::conventions();
    const std::string separator(1, conventions.listSeparator);
    const std::string folder = applicationFolder(launcher);
    // The ini's own value is expanded, before any folder name is joined in; ";" and the
    // platform's separator both separate its folders.
    std::string configured = expandEnvironment(launcher.libraryPath);
    std::replace(configured.begin(), configured.end(), conventions.listSeparator, ';');
    std::vector<std::string> items;
    for (const std::string& item : splitList(configured)) {
        if (item.empty()) continue;
        if (folder.empty() && !(conventions.isAbsolute(item) && !conventions.isDriveRelative(item))) {
            // Without the application folder it would be the working folder's.
            trace::line("paths", "library path: left out " + trace::quoted(item) + ": the application folder is unknown");
            continue;
        }
        items.push_back(conventions.inFolder(folder, item));
    }
    // The application folder stands where the working folder (".") used to.
    items.push_back(folder);
    items.push_back(runtimeLib);
    for (const std::string& item : items) {
        if (holdsListSeparator(item)) {
            reportError(unlistablePath(item), launcher.messageOwner);
            return std::nullopt;
        }
    }
    // The inherited search path, a list of its own, goes before the runtime's folder.
    if (inherited) items.insert(items.end() - 1, *inherited);
    std::string list;
    for (const std::string& item : items) list += item + separator;
    return withoutEmptyItems(list);
}

/// Sets the search path, or says why it cannot: a value the system would damage (Windows makes
/// every character of a too long one a "?") never reaches the program.
bool setSearchPath(const Launcher& launcher, const std::string& value) {
    const PlatformConventions& conventions = platform::conventions();
    const std::size_t limit = conventions.environmentValueLimit;
    const bool fits = limit == 0 || value.size() <= limit;
    if (fits && platform::setEnvironmentVariable(conventions.pathVariable, value)) return true;
    if (trace::enabled()) {
        trace::line("paths", conventions.pathVariable + " not set: " + std::to_string(value.size()) + " characters, " +
                                (fits ? "refused by the system" : "more than " + std::to_string(limit)));
    }
    reportError({IDS_SEARCH_PATH_TOO_LONG, conventions.pathVariable, std::to_string(value.size())},
                launcher.messageOwner);
    return false;
}

}  // namespace

bool setNativeSearchPaths(Launcher& launcher) {
    // First, so that the values expanded below and later may refer to the runtime.
    publishRuntimeEnvironment(launcher);

    const PlatformConventions& conventions = platform::conventions();
    const std::string separator(1, conventions.listSeparator);
    const RuntimeFolders folders = runtimeFolders(launcher.jvmLibraryPath);
    // Read before Path changes below, so that the library path takes the inherited value.
    const std::optional<std::string> inherited = platform::environmentVariable(conventions.pathVariable);

    if (!launcher.libraryPath.empty()) {
        const std::optional<std::string> list = libraryPathList(launcher, inherited, folders.lib);
        if (!list) return false;
        launcher.vmOptions.push_back(libraryPathOption + *list);
    }

    // Only the configured value is expanded: a folder name holding "%...%" stays as it is.
    std::string path = asPlatformList(expandEnvironment(launcher.systemPath));
    if (!path.empty() && path.back() != conventions.listSeparator) path += separator;
    if (inherited) path += *inherited + separator;
    path += folders.bin;
    return setSearchPath(launcher, path);
}

bool expandClassPathEntry(const std::string& applicationFolder, const std::string& entry,
                          std::string& classPath, std::string& unlistable) {
    // An empty entry names nothing; as a pattern it would name the application folder itself.
    if (entry.empty()) return true;
    const PlatformConventions& conventions = platform::conventions();
    std::string named = entry;
    if (!conventions.isAbsolute(entry)) {
        // One ini serves both platforms: entries written with backslashes work on Linux too.
        if (conventions.pathSeparator != '\\') {
            for (char& c : named) {
                if (c == '\\') c = conventions.pathSeparator;
            }
        }
        std::size_t start = 0;
        while (start < named.size() && isFolderSeparator(named[start])) ++start;
        named.erase(0, start);
    }
    // A folder written with a trailing separator: the system's search finds nothing for it.
    while (!named.empty() && isFolderSeparator(named.back()) &&
           lastFolderSeparator(named) == named.size() - 1) {
        named.pop_back();
    }
    if (named.empty()) return true;
    const std::string pattern = conventions.isAbsolute(entry) ? named : applicationFolder + named;
    const std::size_t cut = lastFolderSeparator(pattern);
    const std::string namePrefix = cut == std::string::npos ? std::string() : pattern.substr(0, cut + 1);
    const bool wildcard = pattern.find_first_of("*?[", namePrefix.size()) != std::string::npos;
    std::vector<std::string> names = platform::findFiles(pattern);
    // A wildcard matches files and folders by name, never the folder itself or its parent; nor a
    // name the runtime would read as two.
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) {
                                   if (!wildcard) return false;
                                   if (name == "." || name == "..") return true;
                                   if (!holdsListSeparator(name)) return false;
                                   trace::line("paths", "class path: left out " + namePrefix + name +
                                                                 ": its name holds the list separator");
                                   return true;
                               }),
                names.end());
    std::size_t length = classPath.size();
    for (const std::string& name : names) length += namePrefix.size() + name.size() + 1;
    classPath.reserve(length);
    for (const std::string& name : names) {
        if (holdsListSeparator(namePrefix) || holdsListSeparator(name)) {
            unlistable = namePrefix + name;
            return false;
        }
        classPath += namePrefix;
        classPath += name;
        classPath += conventions.listSeparator;
    }
    return true;
}

std::optional<std::string> buildClassPath(const Launcher& launcher, const std::string& configured,
                                          bool embeddedJar) {
    const PlatformConventions& conventions = platform::conventions();
    std::string classPath;
    std::optional<std::string> folder;  // learnt once, when an entry needs it
    std::string unlistable;
    // References are the ini's own: expanded before a folder or a found name is joined in, so that
    // a name holding "%...%" stays as it is.
    for (std::string entry : splitList(expandEnvironment(configured))) {
        if (conventions.isDriveRelative(entry)) {
            // The current folder of a drive is wherever the user was last: the application's instead.
            trace::line("paths", "class path: " + trace::quoted(entry) + " taken in the application folder");
            entry.erase(0, 2);
            if (entry.empty()) entry = ".";
        }
        if (conventions.isAbsolute(entry) && entry.find('*') == std::string::npos) {
            if (holdsListSeparator(entry)) {
                reportError(unlistablePath(entry), launcher.messageOwner);
                return std::nullopt;
            }
            classPath += entry + conventions.listSeparator;  // not tested for existence
            continue;
        }
        if (!folder && !conventions.isAbsolute(entry)) folder = applicationFolder(launcher);
        if (!expandClassPathEntry(folder.value_or(std::string()), entry, classPath, unlistable)) {
            reportError(unlistablePath(unlistable), launcher.messageOwner);
            return std::nullopt;
        }
    }
    if (embeddedJar) {
        if (!classPath.empty() && classPath.back() != conventions.listSeparator) {
            classPath += conventions.listSeparator;
        }
        std::string executable;
        std::uint32_t errorCode = 0;
        if (!platform::moduleFileName(executable, errorCode)) {
            reportModulePathError(errorCode, launcher.messageOwner);
            executable.clear();
        }
        if (holdsListSeparator(executable)) {
            reportError(unlistablePath(executable), launcher.messageOwner);
            return std::nullopt;
        }
        classPath += executable;
    }
    return classPath;
}

std::vector<std::string> splitVmParameters(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        if (pos == text.size()) break;
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] != ' ') {
            if (text[pos] != '"') {
                ++pos;
                continue;
            }
            const std::size_t close = text.find('"', pos + 1);
            if (close == std::string::npos) {
                // An opening quote without a partner protects nothing.
                pos = text.find(' ', pos + 1);
                if (pos == std::string::npos) pos = text.size();
                break;
            }
            pos = close + 1;
            // A quote right after the closing one counts as part of the closing.
            if (pos < text.size() && text[pos] == '"') ++pos;
        }
        tokens.push_back(text.substr(start, pos - start));
    }
    return tokens;
}

std::string stripQuotes(const std::string& token) {
    std::string result = token;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = result.find('"', pos);
        if (open == std::string::npos) break;
        const std::size_t close = result.find('"', open + 1);
        if (close == std::string::npos) break;
        result.erase(close, 1);
        result.erase(open, 1);
        pos = close - 1;  // right after the kept text
    }
    return result;
}

bool isPercentageMemoryOption(const std::string& token) {
    if (token.size() <= 4) return false;
    const std::string head = token.substr(0, 4);
    if (head != "-Xms" && head != "-Xmx" && head != "-Xss") return false;
    const char last = token.back();
    return last == 'P' || last == 'p' || last == 'T' || last == 't';
}

std::string rewriteMemoryOption(const std::string& token, const platform::MemoryStatus& memory,
                                bool wideSizes) {
    const SizeList list = readSizeList(token, wideSizes);
    const std::uint64_t percentage = sizeListNumber(list, 0);
    const std::uint64_t lower = sizeListNumber(list, 1);
    const std::uint64_t upper = sizeListNumber(list, 2);
    const char unit = token.back();
    const std::uint64_t base = unit == 'T' || unit == 't' ? memory.availableVirtual : memory.totalPhysical;
    const double product = static_cast<double>(base >> 10) * (static_cast<double>(percentage) * 0.01);
    const double limit = static_cast<double>(std::numeric_limits<std::uint64_t>::max());
    const std::uint64_t size = product >= limit ? std::numeric_limits<std::uint64_t>::max()
                                                : static_cast<std::uint64_t>(product);

    char text[32];
    if (!wideSizes) {
        // The 32-bit rule: the size and both bounds are 32-bit values, the size printed signed.
        std::uint32_t narrow = static_cast<std::uint32_t>(size);
        const std::uint32_t upperK = static_cast<std::uint32_t>(upper * 1024);
        const std::uint32_t lowerK = static_cast<std::uint32_t>(lower * 1024);
        if (upper != 0 && narrow > upperK) narrow = upperK;
        if (lowerK > narrow) narrow = lowerK;
        std::snprintf(text, sizeof text, "%d", static_cast<std::int32_t>(narrow));
    } else {
        // A 64-bit process's address space is terabytes: a 32-bit size would wrap.
        std::uint64_t wide = size;
        if (upper != 0 && wide > megabytesInK(upper)) wide = megabytesInK(upper);
        if (megabytesInK(lower) > wide) wide = megabytesInK(lower);
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(wide));
    }
    return list.prefix + text + "K";
}

std::string rewriteMemoryOption(const std::string& token) {
    return rewriteMemoryOption(token, platform::memoryStatus(), sizeof(void*) >= 8);
}

std::uint32_t parseStackSize(const std::string& value) {
    if (value.empty() || !isDigit(value[0]) || value.find(':') != std::string::npos) return 0;
    const char unit = value.back();
    std::uint32_t multiplier = 1;
    if (unit == 'K' || unit == 'k') {
        multiplier = 1024;
    } else if (unit == 'M' || unit == 'm') {
        multiplier = 1048576;
    } else if (unit == 'G' || unit == 'g') {
        multiplier = 1073741824;
    }
    std::uint32_t number = 0;
    for (std::size_t i = 0; i + 1 < value.size(); ++i) {
        if (isDigit(value[i])) number = number * 10 + static_cast<std::uint32_t>(value[i] - '0');
    }
    if (multiplier == 1 && isDigit(unit)) number = number * 10 + static_cast<std::uint32_t>(unit - '0');
    return number * multiplier;
}

std::vector<std::string> vmParameterOptions(Launcher& launcher, const std::string& value) {
    std::vector<std::string> tokens;
    for (const std::string& raw : splitVmParameters(value)) {
        std::string token = stripQuotes(raw);
        // A token of quotes alone: an empty option makes every runtime refuse to start.
        if (token.empty()) continue;
        if (isPercentageMemoryOption(token)) token = rewriteMemoryOption(token);
        // Every -Xss counts, so the last one wins; the token still reaches the VM.
        if (token.compare(0, 4, "-Xss") == 0) launcher.mainThreadStackSize = parseStackSize(token.substr(4));
        tokens.push_back(std::move(token));
    }
    std::vector<std::string> options;
    for (const std::string& token : tokens) {
        std::string expanded = expandEnvironment(token);
        if (expanded.empty()) continue;
        // A class path or library path of one's own comes after the launcher's and wins: it loses
        // its empty items, which would be the working folder.
        if (std::optional<std::string> cleaned = cleanedPathListOption(expanded)) options.push_back(std::move(*cleaned));
    }
    return options;
}

std::string javaCommandOption(const Launcher& launcher) {
    std::string option = "-Dsun.java.command=" + launcher.mainClass;
    std::replace(option.begin(), option.end(), '/', '.');
    for (const std::string& argument : launcher.arguments) option += " " + argument;
    return option;
}

bool assembleVmOptions(Launcher& launcher) {
    const std::string file = configFilePath(launcher);
    if (file.empty()) return false;
    const SettingsReader reader(file);

    const bool embeddedJar = equalsIgnoringCase(reader.read(keys::application, keys::embeddedJar), "Yes");
    const std::optional<std::string> classPath =
        buildClassPath(launcher, reader.read(keys::classPathSection, keys::classPath), embeddedJar);
    if (!classPath) return false;
    if (classPath->empty()) {
        reportError(LauncherError(IDS_NO_CLASS_PATH), launcher.messageOwner);
        return false;
    }

    // Every item is a file, a folder or an absolute name, so the list never comes out empty.
    const std::string classPathItems = withoutEmptyItems(*classPath);

    const std::size_t classPathIndex = launcher.vmOptions.size();
    std::vector<std::string> options =
        vmParameterOptions(launcher, reader.read(keys::javaRuntimeEnvironment, keys::virtualMachineParameters));
    launcher.vmOptions.push_back(classPathOption + classPathItems);
    launcher.vmOptions.insert(launcher.vmOptions.end(), std::make_move_iterator(options.begin()),
                              std::make_move_iterator(options.end()));
    // After the vendor's, so that the user's -Xmx or -D wins; the cache then sees them too.
    addPerUserVmOptions(launcher, reader);
    addStartupCacheOptions(launcher, reader);

    launcher.outputFile = reader.read(keys::application, keys::outputFile);
    if (!launcher.outputFile.empty()) launcher.outputFile = expandEnvironment(launcher.outputFile);
    launcher.errorFile = reader.read(keys::application, keys::errorFile);
    if (!launcher.errorFile.empty()) launcher.errorFile = expandEnvironment(launcher.errorFile);

    launcher.extraArgumentsText = reader.read(keys::application, keys::cmd);
    appendExtraArguments(launcher);
    insertLeadingArguments(launcher, reader.read(keys::application, keys::cmdBefore));
    // Monitoring tools name a VM by this property, as the runtime's own launcher sets it. Ahead of
    // the user's options, so that one given there still wins; never expanded, like the arguments.
    launcher.vmOptions.insert(launcher.vmOptions.begin() + static_cast<std::ptrdiff_t>(classPathIndex + 1),
                              javaCommandOption(launcher));
    return true;
}

}  // namespace qn

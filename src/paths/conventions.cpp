#include "paths/conventions.h"

#include "text/text_search.h"

namespace qn {

bool PlatformConventions::isAbsolute(const std::string& path) const {
    if (style == PathStyle::Posix) return !path.empty() && path[0] == '/';
    return path.size() >= 2 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
}

bool PlatformConventions::isDriveRelative(const std::string& path) const {
    return style == PathStyle::Windows && path.size() >= 2 && path[1] == ':' &&
           (path.size() == 2 || (path[2] != '\\' && path[2] != '/'));
}

std::string PlatformConventions::inFolder(const std::string& folder, const std::string& path) const {
    if (isAbsolute(path) && !isDriveRelative(path)) return path;
    std::size_t start = isDriveRelative(path) ? 2 : 0;
    while (start < path.size() &&
           (path[start] == pathSeparator || (style == PathStyle::Windows && path[start] == '/'))) {
        ++start;
    }
    return folder + path.substr(start);
}

std::string PlatformConventions::withTrailingSeparator(const std::string& path) const {
    // By characters: a double-byte character whose second byte has the separator's value does
    // not end the path in a separator.
    if (!path.empty() && lastSeparator(path) == path.size() - 1) return path;
    return path + pathSeparator;
}

std::size_t PlatformConventions::lastSeparator(const std::string& path) const {
    return lastCharacter(path, pathSeparator);
}

std::string PlatformConventions::withoutComponents(std::string path, int count) const {
    for (int i = 0; i < count; ++i) {
        const std::size_t cut = lastSeparator(path);
        if (cut == std::string::npos) break;
        path.erase(cut);
    }
    return path;
}

std::string PlatformConventions::folderFromVariable(std::string text) const {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    // No double-byte character of the Windows code pages has "/" as its second byte.
    if (style == PathStyle::Windows) {
        for (char& c : text) {
            if (c == '/') c = pathSeparator;
        }
    }
    return text;
}

const PlatformConventions& windowsConventions() {
    static const PlatformConventions conventions{
        PathStyle::Windows,
        '\\',
        ';',
        "Path",
        {{"bin\\client\\jvm.dll", false},
         {"bin\\classic\\jvm.dll", false},
         {"bin\\hotspot\\jvm.dll", false},
         {"bin\\server\\jvm.dll", true},
         {"bin\\jrockit\\jvm.dll", false}},
        {{"bin\\server\\jvm.dll", true}},
        "bin\\java.dll",
        "jre\\",
        "jre\\",
        "java.exe",
        "bin\\javac.exe",
        "splashscreen.dll",
        "qnlauncher-trace.txt",
        0,
        ".com",
        ".exe",
        32766,
    };
    return conventions;
}

const PlatformConventions& windowsConsoleConventions() {
    static const PlatformConventions conventions = [] {
        PlatformConventions console = windowsConventions();
        console.standardErrorTraceFile.clear();
        console.uncaughtExceptionExitCode = 1;
        return console;
    }();
    return conventions;
}

const PlatformConventions& posixConventions() {
    static const PlatformConventions conventions{
        PathStyle::Posix,
        '/',
        ':',
        "PATH",
        {{"lib/client/libjvm.so", false},
         {"lib/server/libjvm.so", true},
         {"jre/lib/amd64/client/libjvm.so", false},
         {"jre/lib/amd64/server/libjvm.so", true},
         // A runtime without a JDK around it; after the JDK layout, whose path ends the same.
         {"lib/amd64/server/libjvm.so", true}},
        {{"lib/server/libjvm.so", true},
         {"jre/lib/amd64/server/libjvm.so", true},
         {"lib/amd64/server/libjvm.so", true}},
        "lib/libjava.so",
        "jre/",
        "",
        "java",
        "bin/javac",
        "libsplashscreen.so",
        "",
        0,
        "",
        "",
        0,
    };
    return conventions;
}

}  // namespace qn

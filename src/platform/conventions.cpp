#include "platform/conventions.h"

namespace qn {

bool PlatformConventions::isAbsolute(const std::string& path) const {
    if (style == PathStyle::Posix) return !path.empty() && path[0] == '/';
    return path.size() >= 2 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
}

std::string PlatformConventions::withTrailingSeparator(const std::string& path) const {
    if (!path.empty() && path.back() == pathSeparator) return path;
    return path + pathSeparator;
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
        "splashscreen.dll",
        true,
    };
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
         {"jre/lib/amd64/server/libjvm.so", true}},
        {{"lib/server/libjvm.so", true}, {"jre/lib/amd64/server/libjvm.so", true}},
        "lib/libjava.so",
        "jre/",
        "",
        "libsplashscreen.so",
        false,
    };
    return conventions;
}

}  // namespace qn

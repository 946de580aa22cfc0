// Stand-in of the runtime's splash library (splashscreen.dll / libsplashscreen.so): shows nothing
// and appends each call to the record file QN_STANDIN_RECORD, like the stand-in runtime.
// Built with QN_SPLASH_STANDIN_NO_INIT it lacks SplashInit, as a broken library would; with
// QN_SPLASH_STANDIN_DEPENDENCY it imports qn_standin_dependency.dll (Windows only).

#include <cstdio>
#include <string>

#include "standin_system.h"

#if defined(_WIN32)
#define QN_SPLASH_EXPORT extern "C" __declspec(dllexport)
#else
#define QN_SPLASH_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Escaped like the stand-in runtime's record: one line per call.
std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

void record(const std::string& key, const std::string& value) {
    const auto path = standin::environment("QN_STANDIN_RECORD");
    if (!path) return;
    std::FILE* file = std::fopen(standin::nativePath(*path).c_str(), "ab");
    if (!file) return;
    const std::string line = key + "=" + escape(value) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

}  // namespace

#if defined(QN_SPLASH_STANDIN_DEPENDENCY)
// Imported by name: which copy answers tells where the loader took it from.
extern "C" __declspec(dllimport) const char* qn_standin_dependency_origin();
#endif

#if !defined(QN_SPLASH_STANDIN_NO_INIT)
QN_SPLASH_EXPORT void SplashInit() {
    record("splash.init", "");
#if defined(QN_SPLASH_STANDIN_DEPENDENCY)
    record("splash.dependency", qn_standin_dependency_origin());
#endif
}
#endif

QN_SPLASH_EXPORT int SplashLoadFile(const char* path) {
    record("splash.loadFile", path ? path : "(null)");
    return 1;
}

QN_SPLASH_EXPORT void SplashSetFileJarName(const char* path, const char* jar) {
    record("splash.setFileJarName", std::string(path ? path : "(null)") + "|" + (jar ? jar : "(null)"));
}

QN_SPLASH_EXPORT void SplashClose() { record("splash.close", ""); }

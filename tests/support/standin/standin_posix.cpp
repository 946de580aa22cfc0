#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "standin_system.h"
#include "standin_text.h"

namespace standin {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// The launcher hands its options and environment over in UTF-8 already.
std::string platformTextToUtf8(const std::string& text) { return text; }

std::string nativePath(const std::string& path) { return path; }

std::uint64_t currentThreadStackSize() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    std::size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    return size;
}

bool writeFile(const std::u16string& path, const std::string& bytes, bool append) {
    std::FILE* file = std::fopen(toUtf8(path).c_str(), append ? "ab" : "wb");
    if (!file) return false;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return true;
}

void exitProcess(int code) {
    std::fflush(nullptr);
    _exit(code);
}

}  // namespace standin

#include "launcher/trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace qn::trace {

namespace {

const auto processStart = std::chrono::steady_clock::now();

std::vector<std::string>* captured = nullptr;

struct Destination {
    std::FILE* file = nullptr;
    bool checked = false;
};

Destination& destination() {
    static Destination state;
    if (!state.checked) {
        state.checked = true;
        const char* target = std::getenv("QN_LAUNCHER_TRACE");
        if (target && *target) {
            state.file = std::string_view(target) == "-" ? stderr : std::fopen(target, "a");
        }
    }
    return state;
}

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

bool enabled() { return captured != nullptr || destination().file != nullptr; }

void captureForTests(std::vector<std::string>* lines) { captured = lines; }

void line(std::string_view category, std::string_view text) {
    if (captured) {
        captured->push_back(std::string(category) + ": " + std::string(text));
        return;
    }
    std::FILE* file = destination().file;
    if (!file) return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - processStart)
                             .count();
    const std::string body = escaped(text);
    std::fprintf(file, "%6lld %.*s: %s\n", static_cast<long long>(elapsed),
                 static_cast<int>(category.size()), category.data(), body.c_str());
    std::fflush(file);
}

}  // namespace qn::trace

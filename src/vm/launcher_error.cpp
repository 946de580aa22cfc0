#include "vm/launcher_error.h"

#include <cstdio>
#include <vector>

#include "res/resource_ids.h"
#include "trace/trace.h"

namespace qn {

std::string loadText(int id) { return platform::loadString(id).value_or(""); }

namespace {

// printf rules for the launcher's templates, which hold only %s, %d and %%. Arguments are taken
// in order; a field without an argument stays empty, so a template never reads past them.
std::string formatTemplate(const std::string& text, const std::vector<std::string>& arguments) {
    std::string result;
    std::size_t next = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            result += text[i];
            continue;
        }
        const char field = text[++i];
        if (field == '%') {
            result += '%';
        } else if (field == 's' || field == 'd') {
            if (next < arguments.size()) result += arguments[next++];
        } else {
            result += '%';
            result += field;
        }
    }
    return result;
}

}  // namespace

std::string formatError(const LauncherError& error) {
    const std::string text = loadText(error.templateId);
    if (!error.argument && std::holds_alternative<std::monostate>(error.detail)) return text + error.postscript;
    std::vector<std::string> arguments;
    if (error.argument) arguments.push_back(*error.argument);
    if (const auto* reason = std::get_if<std::string>(&error.detail)) arguments.push_back(*reason);
    if (const auto* code = std::get_if<std::int32_t>(&error.detail)) {
        arguments.push_back(std::to_string(*code));
    }
    return formatTemplate(text, arguments) + error.postscript;
}

void reportError(const LauncherError& error, platform::WindowHandle owner) {
    const std::string text = formatError(error);
    if (trace::enabled()) trace::line("message", text);
    platform::showErrorBox(owner, text);
}

LauncherError systemError(int templateId, std::string argument, std::uint32_t errorCode) {
    // Read before anything else can replace it.
    std::string reason = platform::lastErrorText();
    if (!reason.empty()) {
        // dlopen and dlsym set no error number: a code of 0 would tell the user nothing.
        const int twin = templateId == IDS_WINDOWS_EXCEPTION     ? IDS_SYSTEM_ERROR
                         : templateId == IDS_VM_LIBRARY_LOAD_FAILED ? IDS_VM_LIBRARY_LOAD_FAILED_REASON
                                                                    : 0;
        if (twin != 0) return {twin, std::move(argument), std::move(reason)};
    }
    return {templateId, std::move(argument), static_cast<std::int32_t>(errorCode)};
}

void reportModulePathError(std::uint32_t errorCode, platform::WindowHandle owner) {
    reportError(systemError(IDS_WINDOWS_EXCEPTION, loadText(IDS_MODULE_PATH_FAILED), errorCode), owner);
}

}  // namespace qn

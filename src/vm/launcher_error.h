#pragma once
// The one path by which failures reach the user: a string-table template shown in an error box.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/platform.h"

namespace qn {

struct LauncherError {
    explicit LauncherError(int id) : templateId(id) {}
    LauncherError(int id, std::string text) : templateId(id), argument(std::move(text)) {}
    LauncherError(int id, std::string text, std::string reason)
        : templateId(id), argument(std::move(text)), detail(std::move(reason)) {}
    LauncherError(int id, std::string text, std::int32_t code)
        : templateId(id), argument(std::move(text)), detail(code) {}

    int templateId;
    std::optional<std::string> argument;
    std::variant<std::monostate, std::string, std::int32_t> detail;
    std::string postscript;  // appended to the formatted template as it is
};

/// The string-table text, or the empty text when it cannot be loaded.
std::string loadText(int id);
/// The message text of a report: the template formatted with printf rules.
std::string formatError(const LauncherError& error);
/// Shows the error box owned by `owner` and returns when it is dismissed.
void reportError(const LauncherError& error, platform::WindowHandle owner);
/// The report of a failed system call: the template with the system error code, or, where the
/// system words its own reason (lastErrorText), the template's twin that shows that reason.
/// Templates with a twin: 202 (261) and 222 (262).
LauncherError systemError(int templateId, std::string argument, std::uint32_t errorCode);
/// The report made whenever the launcher's own path cannot be learnt (202 with 208).
void reportModulePathError(std::uint32_t errorCode, platform::WindowHandle owner);

}  // namespace qn

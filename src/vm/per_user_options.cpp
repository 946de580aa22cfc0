#include "vm/per_user_options.h"

#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "res/resource_ids.h"
#include "trace/trace.h"
#include "vm/launcher_error.h"
#include "vm/vm_options.h"

namespace qn {

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

/// True for an option that sets the class path; `takesValue` when its value is the next token,
/// as the runtime's own launcher reads these words.
bool namesClassPath(const std::string& option, bool& takesValue) {
    takesValue = option == "-cp" || option == "-classpath" || option == "--class-path";
    return takesValue || option == "-Djava.class.path" || startsWith(option, "-Djava.class.path=") ||
           startsWith(option, "--class-path=");
}

/// True when the runtime's words name the option; a refused -XX:+Name or -XX:Name=value is
/// named as 'Name' or 'Name=value'.
bool mentions(const std::string& said, const std::string& option) {
    if (said.find(option) != std::string::npos) return true;
    if (!startsWith(option, "-XX:")) return false;
    std::string name = option.substr(4);
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) name.erase(0, 1);
    name = name.substr(0, name.find('='));
    return !name.empty() && (said.find("'" + name + "'") != std::string::npos ||
                             said.find("'" + name + "=") != std::string::npos);
}

void traceNotTaken(const std::string& why) {
    if (trace::enabled()) trace::line("per-user", "no VM options taken: " + why);
}

}  // namespace

void addPerUserVmOptions(Launcher& launcher, const SettingsReader& reader) {
    if (!perUserSettingsAllowed(launcher)) {
        traceNotTaken(launcher.isService ? "a service application" : "not an NT-family system");
        return;
    }
    if (!userParametersAllowed(reader)) {
        traceNotTaken(std::string("the configuration file's ") + keys::userParameters + " is not yes");
        return;
    }
    const std::string file = userSettingsPath(launcher, false);
    if (file.empty()) return;  // reported: the executable's path is unknown
    const char* const unusable = !platform::pathExists(file)            ? " does not exist"
                                 : !platform::profileFileReadable(file) ? " cannot be read"
                                                                        : nullptr;
    if (unusable) {
        traceNotTaken(file + unusable);
        return;
    }

    const std::vector<std::string> options = vmParameterOptions(
        launcher, readProfileString(file, keys::javaRuntimeEnvironment, keys::virtualMachineParameters));
    bool valueOfClassPath = false;
    for (const std::string& option : options) {
        bool takesValue = false;
        if (valueOfClassPath || namesClassPath(option, takesValue)) {
            // The class path is the application's: a user's one would hide its jars.
            if (trace::enabled()) {
                trace::line("per-user", "left out " + trace::quoted(option) + " of " + file +
                                            ": the class path is the configuration file's");
            }
            valueOfClassPath = takesValue;
            continue;
        }
        if (trace::enabled()) trace::line("per-user", "VM option " + trace::quoted(option) + " from " + file);
        launcher.vmOptions.push_back(option);
        launcher.perUserVmOptions.push_back(option);
    }
    if (!launcher.perUserVmOptions.empty()) launcher.perUserOptionsFile = file;
}

std::string perUserOptionsNote(const Launcher& launcher, const std::string& said) {
    if (launcher.perUserOptionsFile.empty()) return {};
    for (const std::string& option : launcher.perUserVmOptions) {
        if (mentions(said, option)) return formatError({IDS_OPTION_FROM_USER_FILE, option, launcher.perUserOptionsFile});
    }
    std::string list;
    for (const std::string& option : launcher.perUserVmOptions) list += (list.empty() ? "" : " ") + option;
    return formatError({IDS_OPTIONS_FROM_USER_FILE, launcher.perUserOptionsFile, list});
}

}  // namespace qn

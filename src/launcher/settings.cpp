#include "launcher/settings.h"

#include <algorithm>
#include <cctype>

#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "res/resource_ids.h"
#include "text/text_search.h"
#include "trace/trace.h"
#include "vm/launcher_error.h"

namespace qn {

namespace {

bool moduleFileNameOrReport(const Launcher& launcher, std::string& path) {
    std::uint32_t errorCode = 0;
    if (platform::moduleFileName(path, errorCode)) return true;
    reportModulePathError(errorCode, launcher.messageOwner);
    return false;
}

/// Index of the last occurrence of `wanted` at or after `from`, stepping by characters.
std::size_t fileNameStart(const std::string& path) {
    const std::size_t separator = lastCharacter(path, platform::conventions().pathSeparator);
    return separator == std::string::npos ? 0 : separator + 1;
}

JavaVersion readBound(const std::string& value, const JavaVersion& any, std::int32_t fill) {
    if (value == "any") return any;
    return JavaVersion::parsed(value, fill);
}

}  // namespace

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(';', start);
        if (end == std::string::npos) {
            entries.push_back(text.substr(start));
            break;
        }
        entries.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

std::string configFilePath(const Launcher& launcher) {
    std::string path;
    if (!moduleFileNameOrReport(launcher, path)) return {};
    // Windows looks for the last dot over the whole path; elsewhere a dot in a folder name would
    // turn /opt/app.d/app into /opt/app.ini, so only the file name counts there.
    const bool wholePath = platform::conventions().style == PathStyle::Windows;
    const std::size_t dot = lastCharacter(path, '.', wholePath ? 0 : fileNameStart(path));
    if (dot == std::string::npos) {
        if (wholePath) return {};
        return path + ".ini";
    }
    return path.substr(0, dot + 1) + "ini";
}

namespace {

std::string readWholeValue(const std::string& file, const std::string& section,
                           const std::string& key) {
    // Most values fit the first buffer, which needs no allocation.
    constexpr std::uint32_t firstSize = 256;
    char first[firstSize];
    std::uint32_t length = platform::profileString(section, key, first, firstSize, file);
    if (length != firstSize - 1) return std::string(first, std::min(length, firstSize - 1));
    std::uint32_t size = 2 * firstSize;
    for (;;) {
        std::string buffer(size, '\0');
        length = platform::profileString(section, key, buffer.data(), size, file);
        if (length != size - 1) {
            buffer.resize(std::min<std::uint32_t>(length, size - 1));
            return buffer;
        }
        size *= 2;  // the value may have been cut
    }
}

std::string keyName(const std::string& section, const std::string& key) {
    return "[" + section + "] " + key;
}

}  // namespace

std::string readProfileString(const std::string& file, const std::string& section,
                              const std::string& key) {
    std::string value = readWholeValue(file, section, key);
    if (trace::enabled()) trace::line("key", keyName(section, key) + " = " + trace::quoted(value));
    return value;
}

std::string SettingsReader::read(const std::string& section, const std::string& key) const {
    const std::string plain = readWholeValue(file_, section, key);
    if (!plain.empty()) {
        if (trace::enabled()) trace::line("key", keyName(section, key) + " = " + trace::quoted(plain));
        return plain;
    }
    // The additive section's value as written: a blank put in front would spoil every value
    // compared or used as a name ("yes", a class name, a folder).
    const std::string additive = readWholeValue(file_, section + "+", key);
    if (trace::enabled()) {
        std::string text = keyName(section, key) + " empty";
        text += ", " + keyName(section + "+", key) + (additive.empty() ? " empty" : " = " + trace::quoted(additive));
        trace::line("key", text);
    }
    return additive;
}

void applyJvmSource(Launcher& launcher, const std::string& value) {
    struct Row {
        const char* text;
        bool bothKinds, jdkWanted, jreWanted;
    };
    static const Row rows[] = {
        {"", true, true, true},          {"favor_JDK", true, true, false},
        {"favor_JRE", true, false, true}, {"only_JDK", false, true, false},
        {"only_JRE", false, false, true},
    };
    launcher.bothKinds = launcher.jdkWanted = launcher.jreWanted = false;
    for (const Row& row : rows) {
        if (value == row.text) {
            launcher.bothKinds = row.bothKinds;
            launcher.jdkWanted = row.jdkWanted;
            launcher.jreWanted = row.jreWanted;
            return;
        }
    }
}

void applyVmProvider(Launcher& launcher, const std::string& value) {
    struct Row {
        const char* text;
        bool jrockitAllowed, jrockitFavored, javaSoftAllowed, javaSoftFavored, ibmAllowed,
            ibmFavored;
    };
    static const Row vendorTable[] = {
        {"", false, false, true, true, false, false},
        {"jrockit", true, true, false, false, false, false},
        {"ibm", false, false, false, false, true, true},
        {"favor_sun", true, false, true, true, true, false},
        {"favor_jrockit", true, true, true, false, true, false},
        {"favor_ibm", true, false, true, false, true, true},
        {"any", true, false, true, false, true, false},
    };
    if (value.empty()) return;
    for (const Row& row : vendorTable) {
        if (!equalsIgnoringCase(value, row.text)) continue;
        launcher.jrockitAllowed = row.jrockitAllowed;
        launcher.jrockitFavored = row.jrockitFavored;
        launcher.javaSoftAllowed = row.javaSoftAllowed;
        launcher.javaSoftFavored = row.javaSoftFavored;
        launcher.ibmAllowed = row.ibmAllowed;
        launcher.ibmFavored = row.ibmFavored;
        return;
    }
}

bool perUserSettingsAllowed(const Launcher& launcher) {
    return platform::isNtFamily() && !launcher.isService;
}

bool userParametersAllowed(const SettingsReader& reader) {
    return reader.read(keys::javaRuntimeEnvironment, keys::userParameters) == "yes";
}

std::string userSettingsPath(const Launcher& launcher, bool createFolders) {
    std::string path;
    if (!moduleFileNameOrReport(launcher, path)) return {};
    const PlatformConventions& conventions = platform::conventions();
    const char separator = conventions.pathSeparator;

    const std::string fileName = path.substr(fileNameStart(path));
    const std::size_t dot = lastCharacter(fileName, '.');
    const std::string baseName = dot == std::string::npos ? fileName : fileName.substr(0, dot);

    // Stepped by characters: in a double-byte code page "\\" and "|" can be a character's second
    // byte, and removing it would cut the character in half.
    const std::string& name = launcher.productName;
    std::string folderName;
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t next = platform::nextCharacter(name, pos);
        if (next != pos + 1 || std::string_view("\\?\"|><:/*").find(name[pos]) == std::string_view::npos) {
            folderName.append(name, pos, next - pos);
        }
        pos = next;
    }

    std::string result;
    if (conventions.style == PathStyle::Windows) {
        result = platform::environmentVariable("APPDATA").value_or("");
    } else {
        const auto configHome = platform::environmentVariable("XDG_CONFIG_HOME");
        if (configHome && !configHome->empty()) {
            result = *configHome;
        } else {
            result = platform::environmentVariable("HOME").value_or("") + "/.config";
        }
    }
    result += separator + folderName;
    if (createFolders) platform::createDirectory(result);
    result += separator + launcher.productCode;
    if (createFolders) platform::createDirectory(result);
    return result + separator + baseName + ".ini";
}

void rememberJrePath(const Launcher& launcher, const std::string& folder) {
    const std::string configFile = configFilePath(launcher);
    if (configFile.empty()) return;
    const std::string target =
        perUserSettingsAllowed(launcher) ? userSettingsPath(launcher, true) : configFile;
    if (target.empty()) return;
    const bool written =
        platform::writeProfileString(keys::javaRuntimeEnvironment, keys::jrePath, folder, target);
    if (trace::enabled()) {
        trace::line("per-user", std::string(written ? "remembered " : "could not remember ") +
                                    keys::jrePath + " " + trace::quoted(folder) + " in " + target);
    }
}

void setWorkingFolder(const Launcher& launcher) {
    std::string path;
    if (!moduleFileNameOrReport(launcher, path)) return;
    const std::size_t separator = lastCharacter(path, platform::conventions().pathSeparator);
    if (separator != std::string::npos && separator > 0) {
        std::string folder = path.substr(0, separator);
        // "C:" alone names the drive's current folder, not its root, where C:\tool.exe lies.
        if (folder.back() == ':') folder += path[separator];
        platform::setCurrentDirectory(folder);
        if (trace::enabled()) trace::line("launcher", "working folder " + folder);
    }
}

namespace {

/// The per-user path as the trace shows it: empty product keys leave empty parts in the path,
/// which the system reads as one separator.
std::string shownPath(const std::string& path) {
    const char separator = platform::conventions().pathSeparator;
    std::string shown;
    bool afterSeparator = false;
    // By characters: a double-byte character's second byte may have the separator's value.
    for (std::size_t pos = 0; pos < path.size();) {
        const std::size_t next = platform::nextCharacter(path, pos);
        const bool isSeparator = next == pos + 1 && path[pos] == separator;
        // Kept at the start: "\\server" names a share.
        if (!(isSeparator && afterSeparator && pos > 1)) shown.append(path, pos, next - pos);
        afterSeparator = isSeparator;
        pos = next;
    }
    return shown;
}

std::string readConfiguredJrePath(const Launcher& launcher, const SettingsReader& reader) {
    if (perUserSettingsAllowed(launcher)) {
        const std::string userFile = userSettingsPath(launcher, false);
        const std::string shown = shownPath(userFile);
        // An existing per-user file hides the configuration file's value, even an empty one; one
        // that cannot be read holds no choice of the user's, and must not hide the vendor's.
        if (!userFile.empty() && platform::pathExists(userFile)) {
            if (platform::profileFileReadable(userFile)) {
                if (trace::enabled()) {
                    trace::line("per-user", "used: " + shown + " exists; its " + keys::jrePath +
                                                " replaces the configuration file's");
                }
                std::string chosen = readProfileString(userFile, keys::javaRuntimeEnvironment, keys::jrePath);
                // A file a user wrote for options of their own holds no runtime choice: with it
                // allowed, an empty value must not hide the vendor's runtime.
                if (!chosen.empty() || !userParametersAllowed(reader)) {
                    return chosen;
                }
                trace::line("per-user", std::string("its ") + keys::jrePath + " is empty: the configuration file's holds");
                return reader.read(keys::javaRuntimeEnvironment, keys::jrePath);
            }
            if (trace::enabled()) {
                trace::line("per-user", "not used: " + shown + " cannot be read; the configuration file's " +
                                            keys::jrePath + " holds");
            }
            return reader.read(keys::javaRuntimeEnvironment, keys::jrePath);
        }
        if (trace::enabled()) {
            trace::line("per-user", userFile.empty()
                                        ? "not used: the executable's path is unknown"
                                        : "not used: " + shown + " does not exist");
        }
    } else {
        trace::line("per-user", launcher.isService ? "not used: a service application"
                                                   : "not used: not an NT-family system");
    }
    return reader.read(keys::javaRuntimeEnvironment, keys::jrePath);
}

std::string versionText(const JavaVersion& version) {
    std::string text;
    for (const std::int32_t component : version.components) {
        if (!text.empty()) text += '.';
        text += std::to_string(component);
    }
    return text;
}

void traceStartingPoint(const std::string& file) {
    std::string executable;
    std::uint32_t errorCode = 0;
    if (platform::moduleFileName(executable, errorCode)) trace::line("launcher", "executable " + executable);
    if (file.empty()) {
        trace::line("launcher", "no configuration file: the executable's path has no dot");
    } else {
        trace::line("launcher", "configuration file " + file +
                                    (platform::pathExists(file) ? "" : " (missing)"));
    }
}

const char* flavourOrderText(JvmType type) {
    switch (type) {
        case JvmType::ServerOnly: return "server only";
        case JvmType::ServerFirst: return "server first";
        case JvmType::ClientFirst: break;
    }
    return "client first";
}

void traceSettings(const Launcher& launcher) {
    trace::line("setting", "version range " + versionText(launcher.minimumVersion) + " to " +
                               versionText(launcher.maximumVersion));
    if (launcher.isService) trace::line("setting", "service application");
    if (!launcher.preferredVersions.empty()) {
        std::string list;
        for (const std::string& entry : launcher.preferredVersions) {
            list += (list.empty() ? "" : ", ") + trace::quoted(entry);
        }
        trace::line("setting", "preferred versions " + list);
    }
    if (!launcher.configuredJrePath.empty()) {
        trace::line("setting", "configured runtime folder " + launcher.configuredJrePath);
    }
    trace::line("setting", std::string("library flavours ") + flavourOrderText(launcher.jvmType));
    std::string kinds;
    if (launcher.bothKinds) {
        kinds = "JDK and JRE";
        if (launcher.jdkWanted != launcher.jreWanted) kinds += launcher.jdkWanted ? ", JDK favoured" : ", JRE favoured";
    } else if (launcher.jdkWanted || launcher.jreWanted) {
        kinds = launcher.jdkWanted ? "JDK only" : "JRE only";
    } else {
        kinds = "none (the value is not one of the known ones)";
    }
    trace::line("setting", "runtime kinds " + kinds);
    std::string vendors;
    const auto addVendor = [&vendors](const char* name, bool allowed, bool favoured) {
        if (!allowed && !favoured) return;
        vendors += (vendors.empty() ? "" : ", ") + std::string(name) + (favoured ? " (favoured)" : "");
    };
    addVendor("JavaSoft", launcher.javaSoftAllowed, launcher.javaSoftFavored);
    addVendor("JRockit", launcher.jrockitAllowed, launcher.jrockitFavored);
    addVendor("IBM", launcher.ibmAllowed, launcher.ibmFavored);
    trace::line("setting", "vendors " + (vendors.empty() ? std::string("none") : vendors));
    trace::line("setting", "main class " + launcher.mainClass);
    trace::line("setting", std::string("failure check ") + (launcher.failureCheck ? "on" : "off"));
    trace::line("setting",
                std::string("working folder override ") + (launcher.overrideWorkingDir ? "on" : "off"));
}

}  // namespace

bool readSettings(Launcher& launcher) {
    const std::string file = configFilePath(launcher);
    if (trace::enabled()) traceStartingPoint(file);
    if (file.empty()) return false;
    // Every key of an unreadable file reads as empty; the missing main class that follows would
    // send the user looking for the wrong fault.
    if (!platform::profileFileReadable(file)) {
        reportError(LauncherError(IDS_INI_NOT_READABLE, file), launcher.messageOwner);
        return false;
    }

    launcher.productCode = readProfileString(file, keys::productInformation, keys::productCode);
    launcher.productName = readProfileString(file, keys::productInformation, keys::productName);
    platform::setApplicationName(launcher.productName);

    const SettingsReader reader(file);
    const std::string& jre = keys::javaRuntimeEnvironment;
    launcher.minimumVersion =
        readBound(reader.read(jre, keys::minimumVersion), JavaVersion::lowBound(), 0);
    const std::string maximum = reader.read(jre, keys::maximumVersion);
    // A maximum that is missing or holds no digits means "no upper bound": taken literally it
    // would admit no registered runtime at all while the version phrase calls it unset.
    JavaVersion parsedMaximum;
    if (maximum == "any" || !JavaVersion::parse(maximum, 65535, parsedMaximum)) {
        launcher.maximumVersion = JavaVersion::highBound();
    } else {
        launcher.maximumVersion = parsedMaximum;
    }

    launcher.isService = reader.read(keys::application, keys::applicationType) == "service";
    launcher.preferredVersions = splitList(reader.read(jre, keys::preferredVersions));
    launcher.configuredJrePath = readConfiguredJrePath(launcher, reader);

    const std::string jvmType = reader.read(jre, keys::jvmType);
    launcher.jvmType = jvmType == "server"         ? JvmType::ServerOnly
                       : jvmType == "favor_server" ? JvmType::ServerFirst
                                                   : JvmType::ClientFirst;
    applyJvmSource(launcher, reader.read(jre, keys::jvmSource));
    applyVmProvider(launcher, reader.read(jre, keys::vmProvider));

    launcher.mainClass = reader.read(jre, keys::mainClass);
    if (launcher.mainClass.empty()) {
        reportError(LauncherError(IDS_NO_MAIN_CLASS), launcher.messageOwner);
        return false;
    }
    std::replace(launcher.mainClass.begin(), launcher.mainClass.end(), '.', '/');

    launcher.failureCheck = equalsIgnoringCase(reader.read(keys::application, keys::failureCheck), "Yes");
    launcher.overrideWorkingDir =
        equalsIgnoringCase(reader.read(keys::application, keys::overrideWorkingDir), "Yes");
    launcher.systemPath = reader.read(jre, keys::systemPath);
    launcher.libraryPath = reader.read(jre, keys::libraryPath);
    if (trace::enabled()) traceSettings(launcher);
    return true;
}

}  // namespace qn

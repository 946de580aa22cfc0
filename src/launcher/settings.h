#pragma once
// The configuration file beside the executable and the per-user settings file.

#include <string>
#include <vector>

namespace qn {

class Launcher;

/// The executable's path with the text after the file name's last dot replaced by "ini"; empty
/// (silently) when there is no dot, empty after the report when the path cannot be learnt.
std::string configFilePath(const Launcher& launcher);

/// A whole value, however long: the buffer doubles while the platform fills it completely.
std::string readProfileString(const std::string& file, const std::string& section,
                              const std::string& key);

/// Reads with the additive-section rule: an empty value is taken from "<section>+".
class SettingsReader {
public:
    explicit SettingsReader(std::string file) : file_(std::move(file)) {}
    std::string read(const std::string& section, const std::string& key) const;

private:
    std::string file_;
};

/// Fills the settings fields; false when the path cannot be formed, the file cannot be read or
/// "Main Class" is empty.
bool readSettings(Launcher& launcher);

/// Any-case comparison of ASCII texts.
bool equalsIgnoringCase(const std::string& a, const std::string& b);
/// Cuts at every ";"; a trailing ";" adds no entry.
std::vector<std::string> splitList(const std::string& text);

bool perUserSettingsAllowed(const Launcher& launcher);
/// True when the configuration file lets users add VM options of their own ("User Parameters",
/// exactly "yes").
bool userParametersAllowed(const SettingsReader& reader);
/// Empty (after the report) when the executable's path cannot be learnt.
std::string userSettingsPath(const Launcher& launcher, bool createFolders);
/// Writes the chosen runtime folder as "JRE Path" (per-user file, or the configuration file).
void rememberJrePath(const Launcher& launcher, const std::string& folder);
/// Makes the executable's folder current.
void setWorkingFolder(const Launcher& launcher);

/// Applies the "JVM Source" table to the three kind flags.
void applyJvmSource(Launcher& launcher, const std::string& value);
/// Applies the "VM Provider" table to the six vendor flags.
void applyVmProvider(Launcher& launcher, const std::string& value);

}  // namespace qn

#pragma once
// Section and key names of the configuration file, one definition each.

namespace qn::keys {

inline constexpr const char* productInformation = "Product Information";
inline constexpr const char* javaRuntimeEnvironment = "Java Runtime Environment";
inline constexpr const char* application = "Application";
inline constexpr const char* classPathSection = "Class Path";
inline constexpr const char* display = "Display";

inline constexpr const char* productCode = "Product Code";
inline constexpr const char* productName = "Product Name";
inline constexpr const char* minimumVersion = "Minimum Version";
inline constexpr const char* maximumVersion = "Maximum Version";
inline constexpr const char* applicationType = "Application Type";
inline constexpr const char* preferredVersions = "Preferred versions";
inline constexpr const char* jrePath = "JRE Path";
inline constexpr const char* jvmType = "JVM Type";
inline constexpr const char* jvmSource = "JVM Source";
inline constexpr const char* vmProvider = "VM Provider";
inline constexpr const char* mainClass = "Main Class";
inline constexpr const char* failureCheck = "Failure Check";
inline constexpr const char* overrideWorkingDir = "Override WorkingDir";
inline constexpr const char* systemPath = "System Path";
inline constexpr const char* libraryPath = "Library Path";
inline constexpr const char* singleInstance = "Single Instance";
inline constexpr const char* classPath = "Class Path";
inline constexpr const char* embeddedJar = "Embedded Jar";
inline constexpr const char* virtualMachineParameters = "Virtual Machine Parameters";
inline constexpr const char* userParameters = "User Parameters";
inline constexpr const char* startupCache = "Startup Cache";
inline constexpr const char* outputFile = "Output File";
inline constexpr const char* errorFile = "Error File";
inline constexpr const char* cmd = "Cmd";
inline constexpr const char* cmdBefore = "Cmd Before";
inline constexpr const char* splashScreen = "Splash Screen";
inline constexpr const char* splashScreenShadow = "Splash Screen Shadow";
inline constexpr const char* preferNativeSplash = "Preffer Native Splash Screen";

struct SettingKey {
    const char* section;
    const char* key;
};

/// Every key the launcher reads, with the section it is read from (its "+" section included).
/// docs/configuration.md describes exactly these; a unit test holds the two together.
inline constexpr SettingKey allSettingKeys[] = {
    {productInformation, productCode},
    {productInformation, productName},
    {javaRuntimeEnvironment, minimumVersion},
    {javaRuntimeEnvironment, maximumVersion},
    {javaRuntimeEnvironment, preferredVersions},
    {javaRuntimeEnvironment, jrePath},
    {javaRuntimeEnvironment, jvmType},
    {javaRuntimeEnvironment, jvmSource},
    {javaRuntimeEnvironment, vmProvider},
    {javaRuntimeEnvironment, mainClass},
    {javaRuntimeEnvironment, systemPath},
    {javaRuntimeEnvironment, libraryPath},
    {javaRuntimeEnvironment, virtualMachineParameters},
    {javaRuntimeEnvironment, userParameters},
    {javaRuntimeEnvironment, startupCache},
    {classPathSection, classPath},
    {application, applicationType},
    {application, failureCheck},
    {application, overrideWorkingDir},
    {application, singleInstance},
    {application, embeddedJar},
    {application, outputFile},
    {application, errorFile},
    {application, cmd},
    {application, cmdBefore},
    {display, splashScreen},
    {display, splashScreenShadow},
    {display, preferNativeSplash},
};

inline constexpr const char* allSections[] = {productInformation, javaRuntimeEnvironment, application,
                                              classPathSection, display};

}  // namespace qn::keys

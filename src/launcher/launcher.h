#pragma once
// The object of one run: every piece of state that the launcher's steps share.

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/instance_channel.h"
#include "platform/platform.h"
#include "platform/splash_window.h"
#include "runtime/java_version.h"

namespace qn {

/// Flavour order of the runtime-library search.
enum class JvmType : std::int32_t { ClientFirst = 0, ServerOnly = 1, ServerFirst = 2 };

struct InstanceBlock;

using CreateJavaVmProc = jint(JNICALL*)(JavaVM**, void**, void*);
using DefaultInitArgsProc = jint(JNICALL*)(void*);
using NativeSplashCloseProc = void (*)();

class Launcher {
public:
    Launcher() = default;
    ~Launcher();  // teardown, in its fixed order
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    /// True when run() may follow.
    bool prepare();
    /// The process exit code.
    std::int32_t run();

    // Fields, in declaration order; each has one writer.
    platform::ThreadPtr splashThread;
    std::uint32_t splashThreadId = 0;
    std::string splashImagePath;
    std::string splashShadowText;
    JvmType jvmType = JvmType::ClientFirst;
    std::string jvmLibraryPath;
    JavaVM* javaVm = nullptr;
    JNIEnv* jniEnv = nullptr;
    std::string mainClass;
    JavaVersion runtimeVersion;
    bool legacyIbmRuntime = false;  // the chosen runtime is IBM's, of Java 8 or older
    JavaVersion minimumVersion;
    JavaVersion maximumVersion;
    std::vector<std::string> arguments;
    platform::SplashWindowPtr splashWindow;
    platform::WindowHandle messageOwner = nullptr;
    bool isService = false;
    bool jdkWanted = false;
    bool jreWanted = false;
    bool bothKinds = true;
    bool jrockitAllowed = false;
    bool javaSoftAllowed = true;
    bool ibmAllowed = false;
    bool jrockitFavored = false;
    bool javaSoftFavored = true;
    bool ibmFavored = false;
    std::string productName;
    std::string productCode;
    std::vector<std::string> vmOptions;
    std::vector<std::string> preferredVersions;
    std::string configuredJrePath;
    std::string libraryPath;
    InstanceBlock* instanceView = nullptr;
    platform::SharedMappingPtr instanceMapping;
    platform::ListenerThreadPtr instanceListenerThread;
    platform::AcknowledgementPtr instanceAcknowledgement;
    bool isFirstInstance = false;
    std::uint32_t instanceRequestId = 0;  // a later instance's request; 0 to a first of before
    std::uint64_t firstStartTime = 0;     // of the first process; 0 when it does not say
    bool singleInstance = false;
    std::string outputFile;
    std::string errorFile;
    std::string systemPath;
    std::string extraArgumentsText;
    bool failureCheck = false;
    bool overrideWorkingDir = false;
    std::uint32_t mainThreadStackSize = 0;
    NativeSplashCloseProc nativeSplashClose = nullptr;
    platform::EventPtr mainStartedEvent;
    CreateJavaVmProc createJavaVmProc = nullptr;
    DefaultInitArgsProc defaultInitArgsProc = nullptr;
    bool mainThrew = false;  // the Java main thread's: main ended with an uncaught exception
    // The user's own VM options and the per-user file they came from (empty: none taken).
    std::string perUserOptionsFile;
    std::vector<std::string> perUserVmOptions;

    /// A later instance whose arguments went to the first one.
    bool isSecondaryInstance() const { return singleInstance && !isFirstInstance; }
};

/// The entry functions' shared body: constructs, prepares, runs and tears down one Launcher.
std::int32_t runLauncher();

}  // namespace qn

#include "vm/runtime_library.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "launcher/launcher.h"
#include "res/resource_ids.h"
#include "trace/trace.h"
#include "vm/launcher_error.h"
#include "vm/main_invocation.h"
#include "vm/per_user_options.h"
#include "vm/vm_options.h"

namespace qn {

namespace {

// A runtime that cannot start (a heap it cannot reserve, a broken installation) may end the
// process itself while it is being created, after printing why to a console a Windows user never
// sees. Its output and exit hooks keep what it said and show it before the process ends. One
// virtual machine per process, so one record.
struct CreationWatch {
    std::atomic<Launcher*> creating{nullptr};  // set only while JNI_CreateJavaVM runs
    std::mutex lock;
    std::string said;
};

CreationWatch& creationWatch() {
    static CreationWatch watch;
    return watch;
}

// Enough for any start-up message and still a box that fits on a screen; a runtime that prints
// more is shown up to here.
constexpr std::size_t keptOutputLimit = 2048;

jint JNICALL runtimeOutputHook(FILE* stream, const char* format, va_list args) {
    va_list measured;
    va_copy(measured, args);
    const int length = std::vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    if (length < 0) return length;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    platform::passOnRuntimeText(stream, text);
    CreationWatch& watch = creationWatch();
    if (watch.creating.load()) {
        // Every call: a runtime prints a message in pieces ("... VM warning: ", then the text).
        const std::lock_guard<std::mutex> guard(watch.lock);
        if (watch.said.size() <= keptOutputLimit) watch.said.append(text, 0, keptOutputLimit + 1 - watch.said.size());
    }
    return length;
}

/// All the runtime said while it was being created, as one text; empty when it said nothing.
std::string creationWords() {
    CreationWatch& watch = creationWatch();
    std::string said;
    {
        const std::lock_guard<std::mutex> guard(watch.lock);
        said = watch.said;
    }
    const bool cut = said.size() > keptOutputLimit;
    if (cut) said.resize(keptOutputLimit);
    // Blank lines around the words would only make the box taller.
    const std::size_t first = said.find_first_not_of("\r\n ");
    const std::size_t last = said.find_last_not_of("\r\n ");
    said = first == std::string::npos ? std::string() : said.substr(first, last - first + 1);
    if (cut) said += "...";
    return said;
}

/// The box of a failed creation: the runtime's own words ("Unrecognized option: -Xfoo"), which say
/// more than `otherwise`; and, with per-user options in use, the file they came from.
void reportCreationFailure(const Launcher& launcher, const std::string& said, const std::string& otherwise) {
    LauncherError error{IDS_JNI_EXCEPTION, loadText(IDS_CREATE_VM_FAILED), said.empty() ? otherwise : said};
    error.postscript = perUserOptionsNote(launcher, said);
    reportError(error, launcher.messageOwner);
}

/// Shows, once, that the runtime ends the process during its creation, with what it said.
void reportEndDuringCreation() {
    CreationWatch& watch = creationWatch();
    Launcher* launcher = watch.creating.exchange(nullptr);
    if (!launcher) return;  // a running program's exit, or already shown
    const std::string said = creationWords();
    if (trace::enabled()) trace::line("vm", "the runtime ends the process while it is created: " + said);
    reportCreationFailure(*launcher, said, loadText(IDS_JNI_ERR));
}

void JNICALL runtimeExitHook(jint code) {
    // A program that calls System.exit ends the process inside the runtime, past the launcher's
    // own last line; the runtime calls this hook first, so the trace still gets the exit code.
    if (trace::enabled() && !creationWatch().creating.load()) {
        trace::line("launcher", "exit code " + std::to_string(code) + " (the program ended the process)");
    }
    // The runtime goes on to end the process with this code when the hook returns. An agent that
    // ends a start on purpose (code 0) is no failure.
    if (code != 0) reportEndDuringCreation();
}

void JNICALL runtimeAbortHook() { reportEndDuringCreation(); }

}  // namespace

bool loadRuntimeLibrary(Launcher& launcher) {
    std::uint32_t errorCode = 0;
    void* library = platform::loadRuntimeLibrary(launcher.jvmLibraryPath,
                                                 runtimeFolders(launcher.jvmLibraryPath).bin, errorCode);
    if (!library) {
        reportError(systemError(IDS_VM_LIBRARY_LOAD_FAILED, launcher.jvmLibraryPath, errorCode),
                    launcher.messageOwner);
        return false;
    }
    launcher.createJavaVmProc = reinterpret_cast<CreateJavaVmProc>(
        platform::librarySymbol(library, "JNI_CreateJavaVM", errorCode));
    if (launcher.createJavaVmProc) {
        launcher.defaultInitArgsProc = reinterpret_cast<DefaultInitArgsProc>(
            platform::librarySymbol(library, "JNI_GetDefaultJavaVMInitArgs", errorCode));
    }
    if (!launcher.createJavaVmProc || !launcher.defaultInitArgsProc) {
        reportError(systemError(IDS_WINDOWS_EXCEPTION, loadText(IDS_NO_CREATE_JAVA_VM), errorCode),
                    launcher.messageOwner);
        return false;
    }
    if (trace::enabled()) trace::line("vm", "loaded " + launcher.jvmLibraryPath);
    return true;
}

std::string creationFailureReason(jint result) {
    // JNI_ERR (-1) to JNI_EINVAL (-6) have the texts 225 to 230; other codes have none.
    if (result <= JNI_ERR && result >= JNI_EINVAL) return loadText(IDS_JNI_ERR - 1 - result);
    return {};
}

bool createJavaVm(Launcher& launcher) {
    // The runtime's standard hooks come first: it takes its options in order, and what it says
    // about a refused option, or an end while it reads them, must already reach the hooks.
    std::vector<JavaVMOption> options{
        {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&runtimeOutputHook)},
        {const_cast<char*>("exit"), reinterpret_cast<void*>(&runtimeExitHook)},
        {const_cast<char*>("abort"), reinterpret_cast<void*>(&runtimeAbortHook)},
    };
    for (const std::string& option : launcher.vmOptions) options.push_back({const_cast<char*>(option.c_str()), nullptr});
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    if (trace::enabled()) {
        trace::line("vm", "creating the VM with " + std::to_string(options.size()) + " options");
        for (const JavaVMOption& option : options) trace::line("option", option.optionString);
    }

    // Kept apart until success, so a failed creation leaves nothing for teardown to destroy.
    JavaVM* javaVm = nullptr;
    JNIEnv* jniEnv = nullptr;
    CreationWatch& watch = creationWatch();
    {
        const std::lock_guard<std::mutex> guard(watch.lock);
        watch.said.clear();
    }
    watch.creating.store(&launcher);
    const jint result = launcher.createJavaVmProc(&javaVm, reinterpret_cast<void**>(&jniEnv), &args);
    watch.creating.store(nullptr);
    if (result != JNI_OK) {
        reportCreationFailure(launcher, creationWords(), creationFailureReason(result));
        return false;
    }
    launcher.javaVm = javaVm;
    launcher.jniEnv = jniEnv;
    trace::line("vm", "created");

    redirectStandardStreams(launcher);
    return true;
}

void destroyJavaVm(Launcher& launcher) {
    if (launcher.javaVm) launcher.javaVm->DestroyJavaVM();
}

}  // namespace qn

#include "instance/single_instance.h"

#include <jni.h>

#include <memory>

#include "instance/instance_block.h"
#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "platform/instance_channel.h"
#include "trace/trace.h"
#include "vm/java_strings.h"
#include "vm/main_invocation.h"

namespace qn {

std::string instanceExecutable(const std::string& path) {
    const PlatformConventions& conventions = platform::conventions();
    const std::string& companion = conventions.consoleCompanionExtension;
    if (companion.empty() || path.size() <= companion.size()) return path;
    const std::size_t extension = path.size() - companion.size();
    if (!equalsIgnoringCase(path.substr(extension), companion)) return path;
    // The program's name as its folder holds it, which is how a double-click starts it.
    const std::vector<std::string> twin =
        platform::findFiles(path.substr(0, extension) + conventions.programExtension);
    if (twin.empty()) return path;
    const std::size_t separator = conventions.lastSeparator(path);
    return path.substr(0, separator == std::string::npos ? 0 : separator + 1) + twin.front();
}

namespace {

bool currentInstanceName(std::string& name) {
    std::string path;
    std::uint32_t errorCode = 0;
    if (!platform::moduleFileName(path, errorCode)) return false;
    name = instanceName(instanceExecutable(path), platform::conventions());
    return true;
}

// The start carries on as an ordinary launch. What the set-up made goes at once, so that the
// next start can become a working first instance instead of meeting a half-made one.
void switchOff(Launcher& launcher) {
    launcher.instanceListenerThread.reset();
    launcher.instanceAcknowledgement.reset();
    launcher.instanceView = nullptr;
    launcher.instanceMapping.reset();
    launcher.singleInstance = false;
}

// A block's process id may since have been given to another process, ours included.
bool firstInstanceAlive(const InstanceBlock& block) {
    return block.firstProcessId != 0 && block.firstProcessId != platform::currentProcessId() &&
           platform::isInstanceProcessRunning(block.firstProcessId);
}

bool openBlock(Launcher& launcher, const std::string& name, bool holdingTurn) {
    bool existed = false;
    platform::SharedMappingPtr mapping =
        platform::createSharedMapping(name, sizeof(InstanceBlock), existed);
    if (!mapping) return false;
    auto* block = static_cast<InstanceBlock*>(platform::mapSharedView(*mapping));
    if (!block) return false;
    // Only with the turn held is the block complete whenever its first instance lives; then a
    // block whose first instance is gone (POSIX keeps it after a crash) is taken over.
    if (existed && holdingTurn && !firstInstanceAlive(*block)) {
        const std::uint32_t staleProcess = block->firstProcessId;
        if (platform::SharedMappingPtr fresh =
                platform::replaceSharedMapping(name, sizeof(InstanceBlock))) {
            auto* freshBlock = static_cast<InstanceBlock*>(platform::mapSharedView(*fresh));
            if (!freshBlock) return false;
            mapping = std::move(fresh);
            block = freshBlock;
            existed = false;
            if (trace::enabled()) {
                trace::line("instance", "took over the block of process " + std::to_string(staleProcess) +
                                            ", which no longer runs this executable");
            }
        }
    }
    launcher.instanceMapping = std::move(mapping);
    launcher.instanceView = block;
    launcher.isFirstInstance = !existed;
    return true;
}

bool startFirstInstance(Launcher& launcher, const std::string& name) {
    InstanceBlock& block = *launcher.instanceView;
    launcher.mainStartedEvent = platform::createEvent(name + mainStartedEventSuffix);
    // Without the event, workers would touch a VM that may not exist yet; an unnamed event still
    // holds them back until main starts.
    if (!launcher.mainStartedEvent) launcher.mainStartedEvent = platform::createEvent("");
    block.requestMessage = platform::registerMessage(name);
    if (block.requestMessage == 0) return false;
    block.firstProcessId = platform::currentProcessId();
    // Without it later instances simply do not wait for the copy.
    launcher.instanceAcknowledgement = platform::createAcknowledgement(name + acknowledgementSuffix);
    launcher.instanceListenerThread =
        platform::startListenerThread(runListener, &launcher, &block.listenerThreadId);
    return launcher.instanceListenerThread != nullptr;
}

void traceArguments(const char* what, const std::vector<std::string>& arguments) {
    std::string text = std::string(what) + " " + std::to_string(arguments.size()) + " arguments";
    for (const std::string& argument : arguments) text += " " + trace::quoted(argument);
    trace::line("instance", text);
}

bool handOver(Launcher& launcher, const std::string& name) {
    InstanceBlock& block = *launcher.instanceView;
    if (!packArguments(launcher.arguments, block.argumentArea)) {
        trace::line("instance", "the arguments do not fit the block; nothing handed over");
        return false;
    }
    if (trace::enabled()) traceArguments("handing over", launcher.arguments);
    // The reply may come at once; it must find a queue.
    platform::prepareThreadQueue();
    const platform::AcknowledgementPtr acknowledgement =
        platform::openAcknowledgement(name + acknowledgementSuffix);
    if (acknowledgement) platform::clearAcknowledgement(*acknowledgement);
    if (!platform::postThreadMessage(block.listenerThreadId, block.requestMessage,
                                     platform::currentThreadId())) {
        trace::line("instance", "the first instance's listener cannot be reached");
        return false;
    }
    // The caller keeps the turn, and so the argument area, until the listener has copied the
    // arguments, however long the first instance takes: a start that let go earlier would leave
    // a request that the next start's arguments could answer. Only the first one's end stops it.
    if (acknowledgement &&
        !platform::waitForAcknowledgement(*acknowledgement, block.firstProcessId,
                                          platform::waitWithoutLimit) &&
        trace::enabled()) {
        trace::line("instance", "the first instance ended before it took the arguments");
    }
    return true;
}

jclass findMainClass(JNIEnv* env, const std::string& mainClass) {
    const jstring name = toJavaString(env, mainClass);
    if (!name) return nullptr;
    const char* utf = env->GetStringUTFChars(name, nullptr);
    if (!utf) {
        env->DeleteLocalRef(name);
        return nullptr;
    }
    const jclass found = env->FindClass(utf);
    env->ReleaseStringUTFChars(name, utf);
    env->DeleteLocalRef(name);
    return found;
}

void clearPendingException(JNIEnv* env) {
    if (const jthrowable pending = env->ExceptionOccurred()) {
        env->DeleteLocalRef(pending);
        env->ExceptionClear();
    }
}

void callSecondaryMain(JNIEnv* env, const InstanceRequest& request) {
    const jclass mainClass = findMainClass(env, request.launcher->mainClass);
    if (!mainClass) return;
    bool returnsInt = false;
    jmethodID method =
        env->GetStaticMethodID(mainClass, "secondaryMain", "([Ljava/lang/String;)V");
    clearPendingException(env);
    if (!method) {
        method = env->GetStaticMethodID(mainClass, "secondaryMain", "([Ljava/lang/String;)I");
        if (!method) {
            trace::line("instance", "no secondaryMain in the main class; the request ends unanswered");
            return;  // the lookup's exception stays pending and is printed
        }
        returnsInt = true;
    }
    const jobjectArray array = toJavaStringArray(env, request.arguments);
    if (!array) return;
    if (returnsInt) {
        const jint result = env->CallStaticIntMethod(mainClass, method, array);
        if (trace::enabled()) {
            trace::line("instance", "secondaryMain returning int gave " + std::to_string(result) +
                                        "; replied to thread " + std::to_string(request.requesterThreadId));
        }
        platform::postThreadMessage(request.requesterThreadId, request.replyMessage,
                                    static_cast<std::uint32_t>(result));
    } else {
        if (trace::enabled()) {
            trace::line("instance", "secondaryMain returning void; replied 0 to thread " +
                                        std::to_string(request.requesterThreadId) + " before calling it");
        }
        // The later instance need not wait for the method.
        platform::postThreadMessage(request.requesterThreadId, request.replyMessage, 0);
        env->CallStaticVoidMethod(mainClass, method, array);
    }
}

}  // namespace

bool setUpSingleInstance(Launcher& launcher) {
    if (launcher.isService) {
        trace::line("instance", "off: a service application");
        return true;
    }
    const SettingsReader reader(configFilePath(launcher));
    if (reader.read(keys::application, keys::singleInstance) != "yes") return true;
    launcher.singleInstance = true;
    std::string name;
    if (!currentInstanceName(name)) {
        trace::line("instance", "off: the executable's path is unknown");
        launcher.singleInstance = false;
        return true;
    }
    if (trace::enabled()) trace::line("instance", "block " + name);
    // Held until this start is settled: a first instance publishes everything before anyone reads
    // the block, and later instances write the block one at a time. The holder waits only for a
    // first instance that still runs, so the turn comes as soon as that one takes its requests.
    const platform::InstanceTurnPtr turn =
        platform::acquireInstanceTurn(name + instanceTurnSuffix, platform::waitWithoutLimit);
    if (!turn && trace::enabled()) trace::line("instance", "going on without the turn");
    if (!openBlock(launcher, name, turn != nullptr)) {
        if (trace::enabled()) trace::line("instance", "no shared block; an ordinary launch");
        switchOff(launcher);
        return true;
    }
    if (launcher.isFirstInstance) {
        if (!startFirstInstance(launcher, name)) {
            if (trace::enabled()) trace::line("instance", "first instance could not listen; an ordinary launch");
            switchOff(launcher);
            return true;
        }
        if (trace::enabled()) trace::line("instance", "first instance");
        return true;
    }
    if (trace::enabled()) {
        trace::line("instance", "later instance; the first is process " +
                                    std::to_string(launcher.instanceView->firstProcessId));
    }
    return handOver(launcher, name);
}

std::uint32_t runListener(void* raw) {
    Launcher& launcher = *static_cast<Launcher*>(raw);
    platform::ThreadMessage message;
    while (platform::getThreadMessage(message)) {
        const InstanceBlock& block = *launcher.instanceView;
        if (message.number != block.requestMessage) continue;
        // Copied now, while the requester still holds the block, not when main has started.
        auto* request = new InstanceRequest;
        request->requesterThreadId = message.wParam;
        request->replyMessage = block.requestMessage;
        request->arguments = unpackArguments(block.argumentArea);
        if (trace::enabled()) {
            traceArguments(("request of thread " + std::to_string(message.wParam) + ":").c_str(),
                           request->arguments);
        }
        request->launcher = &launcher;
        if (launcher.instanceAcknowledgement &&
            !platform::acknowledge(*launcher.instanceAcknowledgement, message.wParam)) {
            if (trace::enabled()) {
                trace::line("instance", "dropped the request of thread " + std::to_string(message.wParam) +
                                            ", whose start has gone");
            }
            delete request;
            continue;
        }
        // The worker owns the record; its thread handle is not kept.
        if (!platform::startThread(0, handleRequest, request)) delete request;
    }
    return 0;
}

std::uint32_t handleRequest(void* raw) {
    const std::unique_ptr<InstanceRequest> request(static_cast<InstanceRequest*>(raw));
    Launcher& launcher = *request->launcher;
    if (launcher.mainStartedEvent) platform::waitForEvent(*launcher.mainStartedEvent);
    JavaVM* const javaVm = launcher.javaVm;
    if (!javaVm) return 0;
    JNIEnv* env = nullptr;
    if (javaVm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || !env) {
        return 0;
    }
    callSecondaryMain(env, *request);
    if (const jthrowable pending = env->ExceptionOccurred()) {
        env->DeleteLocalRef(pending);
        env->ExceptionDescribe();
    }
    // A runtime that must keep its threads keeps this one attached too.
    if (!keepsMainThread(launcher)) javaVm->DetachCurrentThread();
    return 0;
}

std::int32_t waitForFirstInstance(Launcher& launcher) {
    const auto answer = [](const char* source, std::uint32_t value) {
        const auto code = static_cast<std::int32_t>(value);
        if (trace::enabled()) trace::line("instance", std::string(source) + " " + std::to_string(code));
        return code;
    };
    const InstanceBlock& block = *launcher.instanceView;
    platform::ThreadMessage message;
    const platform::ProcessPtr first = platform::openProcess(block.firstProcessId);
    if (!first) {
        // A reply that came before the first process went still counts.
        while (platform::peekThreadMessage(message)) {
            if (message.number == block.requestMessage) return answer("reply", message.wParam);
        }
        return answer("first instance gone without a reply; result", 0);
    }
    for (;;) {
        // The queue first: a reply wins even when the first process has ended meanwhile.
        if (platform::peekThreadMessage(message) && message.number == block.requestMessage) {
            return answer("reply", message.wParam);
        }
        std::uint32_t exitCode = 0;
        if (!platform::processExitCode(*first, exitCode)) {
            return answer("first instance cannot be asked for its exit code; result",
                          static_cast<std::uint32_t>(unknownFirstInstanceResult));
        }
        if (exitCode != platform::stillActive) return answer("first instance ended with exit code", exitCode);
        platform::sleepMilliseconds(100);
    }
}

void endSingleInstance(Launcher& launcher) {
    if (launcher.singleInstance) {
        platform::InstanceTurnPtr turn;
        std::string name;
        // Starts that come meanwhile wait until the listener and the block are gone, and then
        // find no first instance instead of one that no longer answers.
        if (launcher.isFirstInstance && currentInstanceName(name)) {
            turn = platform::acquireInstanceTurn(name + instanceTurnSuffix, teardownTurnTimeoutMs);
        }
        if (launcher.isFirstInstance && launcher.instanceListenerThread) {
            const std::uint32_t listener = launcher.instanceView->listenerThreadId;
            do {
                platform::postQuitMessage(listener);
            } while (platform::listenerIsActive(*launcher.instanceListenerThread));
        }
        launcher.instanceListenerThread.reset();
        launcher.instanceAcknowledgement.reset();
        if (launcher.instanceMapping && launcher.instanceView) {
            platform::unmapSharedView(*launcher.instanceMapping);
        }
        launcher.instanceView = nullptr;
        launcher.instanceMapping.reset();
    }
    launcher.mainStartedEvent.reset();
}

}  // namespace qn

#include "instance/single_instance.h"

#include <jni.h>

#include <cstring>
#include <memory>

#include "instance/instance_block.h"
#include "instance/instance_request.h"
#include "launcher/launcher.h"
#include "launcher/setting_keys.h"
#include "launcher/settings.h"
#include "platform/instance_channel.h"
#include "trace/trace.h"
#include "res/resource_ids.h"
#include "vm/java_strings.h"
#include "vm/launcher_error.h"
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

ExtendedInstanceBlock& viewOf(Launcher& launcher) {
    // The mapping is instanceBlockSize bytes; a block an older first instance made is shorter,
    // but its view covers a whole page, which reads zero after the block.
    return *reinterpret_cast<ExtendedInstanceBlock*>(launcher.instanceView);
}

// A block's process id may since have been given to another process, ours included; the start
// time, where the block gives one, tells the first process from any later holder of its id.
bool firstInstanceAlive(const ExtendedInstanceBlock& block) {
    const std::uint32_t processId = block.block.firstProcessId;
    if (processId == 0 || processId == platform::currentProcessId() ||
        !platform::isInstanceProcessRunning(processId)) {
        return false;
    }
    const std::uint64_t started = firstStartTimeOf(block);
    return started == 0 || platform::processStartTime(processId) == started;
}

// The block's first instance is gone and this start, holding the turn, becomes the first. Where
// blocks outlive their creator a fresh one replaces it; where a block lives while anyone holds it
// (a later start still waiting for the dead one), it is taken over in place.
ExtendedInstanceBlock* takeOverBlock(const std::string& name, platform::SharedMappingPtr& mapping,
                                     ExtendedInstanceBlock* stale) {
    const std::uint32_t staleProcess = stale->block.firstProcessId;
    ExtendedInstanceBlock* block = stale;
    if (platform::SharedMappingPtr fresh = platform::replaceSharedMapping(name, instanceBlockSize)) {
        block = static_cast<ExtendedInstanceBlock*>(platform::mapSharedView(*fresh));
        if (!block) return nullptr;
        mapping = std::move(fresh);
    } else {
        std::memset(block->block.argumentArea, 0, argumentAreaSize);
        std::memset(&block->extension, 0, sizeof block->extension);
    }
    if (trace::enabled()) {
        trace::line("instance", "took over the block of process " + std::to_string(staleProcess) +
                                    ", which no longer runs as this application's first instance");
    }
    return block;
}

bool openBlock(Launcher& launcher, const std::string& name, bool holdingTurn) {
    bool existed = false;
    platform::SharedMappingPtr mapping = platform::createSharedMapping(name, instanceBlockSize, existed);
    if (!mapping) return false;
    auto* block = static_cast<ExtendedInstanceBlock*>(platform::mapSharedView(*mapping));
    if (!block) return false;
    // Only with the turn held is the block complete whenever its first instance lives; then a
    // block whose first instance is gone is taken over.
    if (existed && holdingTurn && !firstInstanceAlive(*block)) {
        block = takeOverBlock(name, mapping, block);
        if (!block) return false;
        existed = false;
    }
    launcher.instanceMapping = std::move(mapping);
    launcher.instanceView = &block->block;
    launcher.isFirstInstance = !existed;
    return true;
}

bool startFirstInstance(Launcher& launcher, const std::string& name) {
    ExtendedInstanceBlock& block = viewOf(launcher);
    launcher.mainStartedEvent = platform::createEvent(name + mainStartedEventSuffix);
    // Without the event, workers would touch a VM that may not exist yet; an unnamed event still
    // holds them back until main starts.
    if (!launcher.mainStartedEvent) launcher.mainStartedEvent = platform::createEvent("");
    block.block.requestMessage = platform::registerMessage(name);
    if (block.block.requestMessage == 0) return false;
    block.block.firstProcessId = platform::currentProcessId();
    publishExtension(block, platform::processStartTime(platform::currentProcessId()));
    // Without it later instances simply do not wait for the copy.
    launcher.instanceAcknowledgement = platform::createAcknowledgement(name + acknowledgementSuffix);
    launcher.instanceListenerThread =
        platform::startListenerThread(runListener, &launcher, &block.block.listenerThreadId);
    return launcher.instanceListenerThread != nullptr;
}

void traceArguments(const char* what, const std::vector<std::string>& arguments) {
    std::string text = std::string(what) + " " + std::to_string(arguments.size()) + " arguments";
    for (const std::string& argument : arguments) text += " " + trace::quoted(argument);
    trace::line("instance", text);
}

bool refuseHandOver(Launcher& launcher, const char* why, int textId, const std::string& reason = {}) {
    trace::line("instance", std::string(why) + "; nothing handed over");
    reportError(reason.empty() ? LauncherError(textId) : LauncherError(textId, reason), launcher.messageOwner);
    return false;
}

// The start carries on as the first instance, with its own arguments: the one it waited for ended
// before it took them, and this start holds the turn.
bool becomeFirstInstance(Launcher& launcher, const std::string& name) {
    ExtendedInstanceBlock* block = takeOverBlock(name, launcher.instanceMapping, &viewOf(launcher));
    launcher.instanceRequestId = 0;
    launcher.firstStartTime = 0;
    launcher.isFirstInstance = true;
    if (block) launcher.instanceView = &block->block;
    if (!block || !startFirstInstance(launcher, name)) {
        trace::line("instance", "could not become the first instance; an ordinary launch");
        switchOff(launcher);
        return true;
    }
    trace::line("instance", "first instance, in place of the one that ended");
    return true;
}

bool handOver(Launcher& launcher, const std::string& name, bool holdingTurn) {
    ExtendedInstanceBlock& block = viewOf(launcher);
    launcher.firstStartTime = firstStartTimeOf(block);
    const std::uint32_t requestId =
        firstReadsExtension(block) ? newRequestId(platform::processStartTime(platform::currentProcessId())) : 0;
    RequestWrite write = writeRequest(block, name, launcher.arguments, requestId);
    if (!write.written) {
        return refuseHandOver(launcher,
                              write.refusal == IDS_INSTANCE_OTHER_VERSION
                                  ? "the first instance is of a launcher that would read these arguments wrongly"
                                  : "the arguments cannot be written",
                              write.refusal, write.reason);
    }
    launcher.instanceRequestId = requestId;
    if (trace::enabled()) traceArguments("handing over", launcher.arguments);
    // The reply may come at once; it must find a queue.
    platform::prepareThreadQueue();
    const platform::AcknowledgementPtr acknowledgement =
        platform::openAcknowledgement(name + acknowledgementSuffix);
    if (acknowledgement) platform::clearAcknowledgement(*acknowledgement);
    if (!platform::postThreadMessage(block.block.listenerThreadId, block.block.requestMessage,
                                     platform::currentThreadId(), requestId)) {
        return refuseHandOver(launcher, "the first instance's listener cannot be reached",
                              IDS_INSTANCE_HANDOVER_FAILED, "the running application does not listen");
    }
    trace::line("instance", "request posted; waiting for the first instance to take the arguments");
    // The caller keeps the turn, and so the argument area, until the listener has copied the
    // arguments, however long the first instance takes: a start that let go earlier would leave
    // a request that the next start's arguments could answer. Only the first one's end stops it.
    if (acknowledgement &&
        !platform::waitForAcknowledgement(*acknowledgement, block.block.firstProcessId, launcher.firstStartTime,
                                          platform::waitWithoutLimit)) {
        write.argumentFile.reset();
        if (holdingTurn && !firstInstanceAlive(block)) {
            trace::line("instance", "the first instance ended before it took the arguments");
            return becomeFirstInstance(launcher, name);
        }
        trace::line("instance", "the first instance did not take the arguments");
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
                                    static_cast<std::uint32_t>(result), request.requestId);
    } else {
        if (trace::enabled()) {
            trace::line("instance", "secondaryMain returning void; replied 0 to thread " +
                                        std::to_string(request.requesterThreadId) + " before calling it");
        }
        // The later instance need not wait for the method.
        platform::postThreadMessage(request.requesterThreadId, request.replyMessage, 0, request.requestId);
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
    return handOver(launcher, name, turn != nullptr);
}

std::uint32_t runListener(void* raw) {
    Launcher& launcher = *static_cast<Launcher*>(raw);
    std::string name;
    currentInstanceName(name);
    platform::ThreadMessage message;
    while (platform::getThreadMessage(message)) {
        ExtendedInstanceBlock& block = viewOf(launcher);
        if (message.number != block.block.requestMessage) continue;
        const std::string requester = "thread " + std::to_string(message.wParam);
        // Copied now, while the requester still holds the block, not when main has started.
        ReceivedRequest received = readRequest(block, name, message.lParam);
        if (received.state == RequestState::stale) {
            trace::line("instance", "dropped a request of " + requester + ": " + received.why);
            continue;
        }
        if (trace::enabled()) traceArguments(("request of " + requester + ":").c_str(), received.arguments);
        if (launcher.instanceAcknowledgement &&
            !platform::acknowledge(*launcher.instanceAcknowledgement, message.wParam)) {
            trace::line("instance", "dropped the request of " + requester + ", whose start has gone");
            continue;
        }
        if (received.state == RequestState::unreadable) {
            // Answered at once: nothing of it can run, and its start should not wait for main.
            trace::line("instance", "refused the request of " + requester + ": " + received.why);
            platform::postThreadMessage(message.wParam, block.block.requestMessage, static_cast<std::uint32_t>(-1),
                                        received.requestId ? refusalOf(received.requestId) : 0);
            continue;
        }
        auto* request = new InstanceRequest;
        request->requesterThreadId = message.wParam;
        request->replyMessage = block.block.requestMessage;
        request->requestId = received.requestId;
        request->arguments = std::move(received.arguments);
        request->launcher = &launcher;
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
    // A first instance of this version said when it started and answers with the request's id;
    // when it is gone without an answer, it took the arguments (or this start would have become
    // the first) and says nothing about them: the user hears so.
    const bool knowsRequests = launcher.instanceRequestId != 0;
    const auto unanswered = [&](const char* what) {
        trace::line("instance", what);
        reportError(LauncherError(IDS_INSTANCE_ENDED_UNANSWERED), launcher.messageOwner);
        return unknownFirstInstanceResult;
    };
    const InstanceBlock& block = *launcher.instanceView;
    platform::ThreadMessage message;
    // Another request's reply can reach this thread (a start killed while it waited had the
    // same thread id): only the one that carries this request's id counts.
    const auto isReply = [&](const platform::ThreadMessage& received) {
        return received.number == block.requestMessage &&
               (!knowsRequests || received.lParam == launcher.instanceRequestId ||
                received.lParam == refusalOf(launcher.instanceRequestId));
    };
    const auto replied = [&](const platform::ThreadMessage& reply) {
        if (knowsRequests && reply.lParam == refusalOf(launcher.instanceRequestId)) {
            trace::line("instance", "the first instance could not read the arguments");
            reportError(LauncherError(IDS_INSTANCE_HANDOVER_FAILED, "the running application could not read them"),
                        launcher.messageOwner);
            return unknownFirstInstanceResult;
        }
        return answer("reply", reply.wParam);
    };
    const platform::ProcessPtr first = platform::openProcess(block.firstProcessId, launcher.firstStartTime);
    if (!first) {
        // A reply that came before the first process went still counts.
        while (platform::peekThreadMessage(message)) {
            if (isReply(message)) return replied(message);
        }
        if (knowsRequests) return unanswered("the first instance ended without a reply");
        return answer("first instance gone without a reply; result", 0);
    }
    for (;;) {
        // The queue first: a reply wins even when the first process has ended meanwhile.
        if (platform::peekThreadMessage(message) && isReply(message)) return replied(message);
        std::uint32_t exitCode = 0;
        if (!platform::processExitCode(*first, exitCode)) {
            if (knowsRequests) return unanswered("the first instance ended without a reply or an exit code");
            return answer("first instance cannot be asked for its exit code; result",
                          static_cast<std::uint32_t>(unknownFirstInstanceResult));
        }
        if (exitCode != platform::stillActive) return answer("first instance ended with exit code", exitCode);
        // Wakes for the reply or the end at once; the bound only re-checks a wake-up that the
        // system might not give.
        platform::waitForMessageOrEnd(*first, replyRecheckMs);
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

#include "instance/instance_request.h"

#include <chrono>
#include <cstring>

namespace qn {

bool firstReadsExtension(const ExtendedInstanceBlock& block) {
    return block.extension.magic == extensionMagic;
}

std::uint64_t firstStartTimeOf(const ExtendedInstanceBlock& block) {
    if (!firstReadsExtension(block)) return 0;
    return (static_cast<std::uint64_t>(block.extension.startTimeHigh) << 32) | block.extension.startTimeLow;
}

void publishExtension(ExtendedInstanceBlock& block, std::uint64_t startTime) {
    std::memset(&block.extension, 0, sizeof block.extension);
    block.extension.startTimeLow = static_cast<std::uint32_t>(startTime);
    block.extension.startTimeHigh = static_cast<std::uint32_t>(startTime >> 32);
    block.extension.magic = extensionMagic;
}

std::uint32_t newRequestId(std::uint64_t startTime) {
    // The process's start time tells it from every earlier holder of its id; the clock and a
    // counter tell its requests apart. Mixed so that nearby values do not give nearby ids.
    static std::uint32_t counter = 0;
    std::uint64_t mixed = startTime ^ static_cast<std::uint64_t>(
                                          std::chrono::steady_clock::now().time_since_epoch().count());
    mixed ^= static_cast<std::uint64_t>(++counter) << 48;
    mixed ^= reinterpret_cast<std::uintptr_t>(&counter);
    mixed = (mixed ^ (mixed >> 33)) * 0xff51afd7ed558ccdull;
    mixed = (mixed ^ (mixed >> 33)) * 0xc4ceb9fe1a85ec53ull;
    const auto id = static_cast<std::uint32_t>(mixed ^ (mixed >> 32));
    return id != 0 ? id : 1;
}

namespace {

platform::SharedMappingPtr freshArgumentFile(const std::string& path, std::size_t size) {
    // A file that a killed start left behind is replaced; where objects vanish with their last
    // holder, one that still exists belongs to someone else and is not used.
    if (platform::SharedMappingPtr file = platform::replaceSharedMapping(path, size)) return file;
    bool existed = false;
    platform::SharedMappingPtr file = platform::createSharedMapping(path, size, existed);
    if (existed) file.reset();
    return file;
}

}  // namespace

RequestWrite writeRequest(ExtendedInstanceBlock& block, const std::string& name,
                          const std::vector<std::string>& arguments, std::uint32_t requestId) {
    RequestWrite write;
    const bool inArea = fitsArea(arguments);
    if (!firstReadsExtension(block)) {
        // A first instance of before reads the area by its own rule and nothing else: a list it
        // would read differently is refused rather than delivered cut short.
        if (!inArea) {
            write.refusal = IDS_INSTANCE_OTHER_VERSION;
            return write;
        }
        packArguments(arguments, block.block.argumentArea);
        write.written = true;
        return write;
    }
    std::uint32_t listSize = 0;
    if (inArea) {
        packArguments(arguments, block.block.argumentArea);
    } else {
        const std::vector<unsigned char> bytes = encodeArgumentFile(requestId, arguments);
        write.argumentFile = freshArgumentFile(name + argumentFileSuffix, bytes.size());
        void* view = write.argumentFile ? platform::mapSharedView(*write.argumentFile) : nullptr;
        if (!view) {
            write.argumentFile.reset();
            write.refusal = IDS_INSTANCE_HANDOVER_FAILED;
            write.reason = "the argument file cannot be made";
            return write;
        }
        std::memcpy(view, bytes.data(), bytes.size());
        listSize = static_cast<std::uint32_t>(bytes.size());
        // An area that no reader takes for a list: it reads as one empty argument.
        std::memset(block.block.argumentArea, 0, argumentAreaSize);
    }
    block.extension.listSize = listSize;
    block.extension.areaCheck = areaCheck(block.block.argumentArea);
    block.extension.requestId = requestId;
    write.written = true;
    return write;
}

ReceivedRequest readRequest(ExtendedInstanceBlock& block, const std::string& name,
                            std::uint32_t messageRequestId) {
    ReceivedRequest request;
    InstanceExtension& extension = block.extension;
    if (messageRequestId == 0) {
        // A launcher of before writes only the area and sends no id.
        request.arguments = unpackArguments(block.block.argumentArea);
        if (areaListWasCut(block.block.argumentArea)) {
            request.state = RequestState::unreadable;
            request.why = "a launcher of another version packed an empty argument, which cuts its list short";
        }
        return request;
    }
    // A start killed before the listener took its request leaves its message behind; the block
    // holds the next start's request by then, which only that start's own message may take.
    if (extension.requestId != messageRequestId || extension.areaCheck != areaCheck(block.block.argumentArea)) {
        request.state = RequestState::stale;
        request.why = "its request is no longer in the block";
        return request;
    }
    request.requestId = messageRequestId;
    if (extension.listSize == 0) {
        request.arguments = unpackArguments(block.block.argumentArea);
    } else {
        const platform::SharedMappingPtr file =
            platform::openSharedMapping(name + argumentFileSuffix, extension.listSize);
        const void* view = file ? platform::mapSharedView(*file) : nullptr;
        if (!view || !decodeArgumentFile(static_cast<const unsigned char*>(view), extension.listSize,
                                         messageRequestId, request.arguments)) {
            request.state = RequestState::unreadable;
            request.why = "its argument file cannot be read";
        }
    }
    extension.requestId = 0;
    extension.areaCheck = 0;
    extension.listSize = 0;
    return request;
}

}  // namespace qn

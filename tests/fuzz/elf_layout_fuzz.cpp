// The check of a runtime library's headers before the loader maps it.
#include "fuzz_input.h"
#include "platform/posix/library_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::fuzz::Input input(data, size);
    const std::uint64_t fileSize = input.number() % (std::uint64_t{1} << 40);
    const std::string head = input.rest();
    const std::uint64_t needed = qn::platform::elfHeadersLength(head.substr(0, 64));
    const std::string given = needed < head.size() ? head.substr(0, static_cast<std::size_t>(needed)) : head;
    const auto problem = qn::platform::elfLayoutProblem(given, fileSize);
    // Whatever passes has its headers inside the file and inside what was read.
    if (!problem && needed > 0 && fileSize >= needed) QN_FUZZ_CHECK(given.size() >= 52);
    return 0;
}

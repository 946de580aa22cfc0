// The argument area of the instance block, as another process may have left it.
#include <cstring>

#include "fuzz_input.h"
#include "instance/instance_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    unsigned char area[qn::argumentAreaSize] = {};
    std::memcpy(area, data, size < sizeof area ? size : sizeof area);
    const std::vector<std::string> arguments = qn::unpackArguments(area);
    for (const std::string& argument : arguments) QN_FUZZ_CHECK(argument.find('\0') == std::string::npos);

    // What is read back packs and reads back the same, when it fits.
    unsigned char again[qn::argumentAreaSize];
    std::memset(again, 0xAA, sizeof again);
    const bool packed = qn::packArguments(arguments, again);
    QN_FUZZ_CHECK(packed == qn::argumentsFit(arguments));
    if (packed) {
        const std::vector<std::string> reread = qn::unpackArguments(again);
        // Two NULs in a row end the list: an empty argument after the first cuts it there, and no
        // arguments at all read back as one empty argument.
        std::size_t expected = 1;
        while (expected < arguments.size() && !arguments[expected].empty()) ++expected;
        QN_FUZZ_CHECK(reread.size() == expected);
        for (std::size_t i = 0; i < expected; ++i) {
            QN_FUZZ_CHECK(reread[i] == (i < arguments.size() ? arguments[i] : std::string()));
        }
    }
    return 0;
}

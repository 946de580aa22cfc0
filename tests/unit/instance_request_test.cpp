#include <gtest/gtest.h>

#include <cstring>

#include "fake_instance_channel.h"
#include "fake_platform.h"
#include "instance/instance_request.h"

namespace qn {
namespace {

const char* const kName = "C:_App_app.exe";
using List = std::vector<std::string>;

TEST(InstanceBlock, AnArgumentFileIsReadOnlyWholeAndForItsOwnRequest) {
    const List list = {"", "two words", std::string(5000, 'x'), ""};
    std::vector<unsigned char> bytes = encodeArgumentFile(42, list);
    List read;
    ASSERT_TRUE(decodeArgumentFile(bytes.data(), bytes.size(), 42, read));
    EXPECT_EQ(list, read);
    const std::size_t whole = bytes.size();
    bytes.push_back(0);
    // Another request's, cut short, bytes after the list.
    for (const auto& [size, id] : {std::pair<std::size_t, std::uint32_t>{whole, 43}, {whole - 1, 42}, {whole + 1, 42}}) {
        SCOPED_TRACE(size);
        List untouched = {"kept"};
        EXPECT_FALSE(decodeArgumentFile(bytes.data(), size, id, untouched));
        EXPECT_EQ(List{"kept"}, untouched);
    }
}

TEST(Request, EveryListArrivesWholeAtAFirstInstanceOfThisVersion) {
    // In the area go only the lists that every reader reads back unchanged; the rest in a file.
    const struct {
        const char* what;
        List arguments;
        bool inArea;
    } cases[] = {
        {"exactly 1040 bytes", {std::string(1000, 'a'), std::string(37, 'b')}, true},
        {"one byte more", {std::string(1000, 'a'), std::string(38, 'b')}, false},
        {"an empty argument in the middle", {"code13", "", "after", "more"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        ExtendedInstanceBlock block{};
        publishExtension(block, 0x1122334455667788ull);
        RequestWrite write = writeRequest(block, kName, c.arguments, 7);
        ASSERT_TRUE(write.written);
        EXPECT_EQ(!c.inArea, write.argumentFile != nullptr);
        if (c.inArea) {
            // Any launcher reads such a list from the area as it always did.
            unsigned char classic[argumentAreaSize];
            packArguments(c.arguments, classic);
            EXPECT_EQ(0, std::memcmp(classic, block.block.argumentArea, argumentAreaSize));
        }
        const ReceivedRequest read = readRequest(block, kName, 7);
        EXPECT_EQ(RequestState::taken, read.state) << read.why;
        EXPECT_EQ(c.arguments, read.arguments);
        EXPECT_EQ(0u, block.extension.requestId) << "cleared once taken";
        EXPECT_EQ(0u, block.extension.listSize);
    }
}

TEST(Request, TheListenerTellsWhatItCannotTake) {
    ExtendedInstanceBlock block{};
    publishExtension(block, 0x1122334455667788ull);
    writeRequest(block, kName, {"mine"}, 8);
    packArguments({"older"}, block.block.argumentArea);  // another start's, over request 8
    EXPECT_EQ(RequestState::stale, readRequest(block, kName, 8).state);
    EXPECT_EQ(8u, block.extension.requestId) << "waits for its own message";
    // An older launcher's list, cut by an empty argument.
    std::memcpy(block.block.argumentArea, "a\0\0b\0", 5);
    const ReceivedRequest cut = readRequest(block, kName, 0);
    EXPECT_EQ(RequestState::unreadable, cut.state);
    EXPECT_EQ(List{"a"}, cut.arguments);
}

}  // namespace
}  // namespace qn

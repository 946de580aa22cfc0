#include <gtest/gtest.h>

#include <cstring>

#include "fake_instance_channel.h"
#include "fake_platform.h"
#include "instance/instance_request.h"

namespace qn {
namespace {

const char* const kName = "C:_App_app.exe";
using List = std::vector<std::string>;

struct Request : ::testing::Test {
    ExtendedInstanceBlock block{};
    void SetUp() override { fake::reset(); }
    void firstOfThisVersion() { publishExtension(block, 0x1122334455667788ull); }
};

TEST(InstanceBlock, AnArgumentFileIsReadOnlyWholeAndForItsOwnRequest) {
    const List list = {"", "two words", std::string(5000, 'x'), ""};
    std::vector<unsigned char> bytes = encodeArgumentFile(42, list);
    List read;
    ASSERT_TRUE(decodeArgumentFile(bytes.data(), bytes.size(), 42, read));
    EXPECT_EQ(list, read);
    const std::size_t whole = bytes.size();
    bytes.push_back(0);
    // Another request's, cut short, only the header, nothing, bytes after the list.
    for (const auto& [size, id] : {std::pair<std::size_t, std::uint32_t>{whole, 43}, {whole - 1, 42}, {12, 42},
                                   {0, 42}, {whole + 1, 42}}) {
        SCOPED_TRACE(size);
        List untouched = {"kept"};
        EXPECT_FALSE(decodeArgumentFile(bytes.data(), size, id, untouched));
        EXPECT_EQ(List{"kept"}, untouched);
    }
}

TEST_F(Request, EveryListArrivesWholeAtAFirstInstanceOfThisVersion) {
    // In the area go only the lists that every reader reads back unchanged; the rest in a file.
    const struct {
        const char* what;
        List arguments;
        bool inArea;
    } cases[] = {
        {"no arguments", {}, true},
        {"one empty argument", {""}, true},
        {"an empty first argument", {"", "b"}, true},
        {"words", {"a", "b c"}, true},
        {"an empty argument in the middle", {"code13", "", "after", "more"}, false},
        {"empty last arguments", {"a", "", ""}, false},
        {"exactly 1040 bytes", {std::string(1000, 'a'), std::string(37, 'b')}, true},
        {"one byte more", {std::string(1000, 'a'), std::string(38, 'b')}, false},
        {"many", List(300, std::string(40, 'p')), false},
    };
    std::uint32_t id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        firstOfThisVersion();
        ++id;
        RequestWrite write = writeRequest(block, kName, c.arguments, id);
        ASSERT_TRUE(write.written);
        EXPECT_EQ(!c.inArea, write.argumentFile != nullptr);
        if (c.inArea) {
            // Any launcher reads such a list from the area as it always did.
            unsigned char classic[argumentAreaSize];
            packArguments(c.arguments, classic);
            EXPECT_EQ(0, std::memcmp(classic, block.block.argumentArea, argumentAreaSize));
        }
        const ReceivedRequest read = readRequest(block, kName, id);
        EXPECT_EQ(RequestState::taken, read.state) << read.why;
        EXPECT_EQ(id, read.requestId);
        EXPECT_EQ(c.arguments.empty() ? List{""} : c.arguments, read.arguments);
        EXPECT_EQ(0u, block.extension.requestId) << "the request fields are cleared once taken";
        EXPECT_EQ(0u, block.extension.listSize);
        EXPECT_EQ(extensionMagic, block.extension.magic);
    }
}

// A killed start's message and a gone argument file are the listener's test (Worker).
TEST_F(Request, TheListenerTellsWhatItCannotTake) {
    struct Case {
        const char* what;
        void (*arrange)(ExtendedInstanceBlock&);
        std::uint32_t messageId;
        RequestState state;
        List arguments;
    };
    const Case cases[] = {
        {"an older launcher overwrote the area after a killed start's request",
         [](ExtendedInstanceBlock& b) {
             writeRequest(b, kName, {"killed"}, 8);
             packArguments({"older"}, b.block.argumentArea);
         },
         0, RequestState::taken, {"older"}},
        {"an id whose area another start has overwritten",
         [](ExtendedInstanceBlock& b) {
             writeRequest(b, kName, {"mine"}, 8);
             packArguments({"older"}, b.block.argumentArea);
         },
         8, RequestState::stale, {}},
        {"an older launcher's list cut by an empty argument",
         [](ExtendedInstanceBlock& b) {
             std::memcpy(b.block.argumentArea, "a\0\0b\0", 5);
         },
         0, RequestState::unreadable, {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        block = ExtendedInstanceBlock{};
        firstOfThisVersion();
        c.arrange(block);
        const ReceivedRequest read = readRequest(block, kName, c.messageId);
        EXPECT_EQ(c.state, read.state);
        EXPECT_EQ(c.arguments, read.arguments);
        if (c.state == RequestState::stale) {
            EXPECT_EQ(8u, block.extension.requestId) << "the request in the block waits for its own message";
        }
    }
}

}  // namespace
}  // namespace qn

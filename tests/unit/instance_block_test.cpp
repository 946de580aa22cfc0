#include <gtest/gtest.h>

#include <cstring>

#include "instance/instance_block.h"

namespace qn {
namespace {

using Area = unsigned char[argumentAreaSize];

std::vector<std::string> roundTrip(const std::vector<std::string>& arguments) {
    Area area;
    EXPECT_TRUE(packArguments(arguments, area));
    return unpackArguments(area);
}

TEST(InstanceBlock, NumbersSitLittleEndianAtTheirOffsets) {
    InstanceBlock block;
    std::memset(&block, 0, sizeof block);
    block.listenerThreadId = 0x04030201;
    block.firstProcessId = 0x08070605;
    block.requestMessage = 0x0C0B0A09;
    block.argumentArea[0] = 0xAA;
    block.argumentArea[argumentAreaSize - 1] = 0xBB;
    unsigned char bytes[1052];
    std::memcpy(bytes, &block, sizeof bytes);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(i + 1, bytes[i]);
    }
    EXPECT_EQ(0xAA, bytes[12]);
    EXPECT_EQ(0xBB, bytes[1051]);
}

TEST(InstanceBlock, FitRuleCountsEachArgumentWithItsNulAndOneMore) {
    const struct {
        const char* what;
        std::vector<std::string> arguments;
        bool fits;
    } cases[] = {
        {"no arguments", {}, true},
        {"one of 1038 bytes", {std::string(1038, 'a')}, true},
        {"one of 1039 bytes", {std::string(1039, 'a')}, false},
        {"two making exactly 1040", {std::string(500, 'a'), std::string(537, 'b')}, true},
        {"two making 1041", {std::string(500, 'a'), std::string(538, 'b')}, false},
        {"1039 empty ones", std::vector<std::string>(1039), true},
        {"1040 empty ones", std::vector<std::string>(1040), false},
        {"far too long", {std::string(5000, 'a')}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.fits, argumentsFit(c.arguments));
        Area area;
        std::memset(area, 0x5A, sizeof area);
        EXPECT_EQ(c.fits, packArguments(c.arguments, area));
        if (!c.fits) {
            EXPECT_EQ(0x5A, area[0]) << "an argument list that does not fit leaves the area alone";
        }
    }
}

TEST(InstanceBlock, PackingZeroesTheRestAndSeparatesWithNul) {
    Area area;
    std::memset(area, 0x5A, sizeof area);
    ASSERT_TRUE(packArguments({"ab", "", "c"}, area));
    const unsigned char expected[] = {'a', 'b', 0, 0, 'c', 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, area, sizeof expected));
    for (std::size_t i = sizeof expected; i < argumentAreaSize; ++i) ASSERT_EQ(0, area[i]) << i;
}

TEST(InstanceBlock, ReadingGivesWhatWasPacked) {
    const std::string exact(1038, 'x');
    const struct {
        const char* what;
        std::vector<std::string> packed;
        std::vector<std::string> read;
    } cases[] = {
        {"no arguments arrive as one empty string", {}, {""}},
        {"one empty argument", {""}, {""}},
        {"plain list", {"a", "b c", "-nosplash"}, {"a", "b c", "-nosplash"}},
        {"an empty second argument ends the list", {"first", "", "third"}, {"first"}},
        {"an empty first argument is kept with what follows", {"", "second"}, {"", "second"}},
        {"exactly 1040 bytes", {exact}, {exact}},
        {"bytes beyond ASCII pass unchanged", {"caf\xC3\xA9", "\xE4\xF6"}, {"caf\xC3\xA9", "\xE4\xF6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.read, roundTrip(c.packed));
    }
}

TEST(InstanceBlock, ReadingLooksAtPositionsUpTo1038Only) {
    struct Case {
        const char* what;
        std::string bytes;  // the area's start; the rest is filled with `fill`
        unsigned char fill;
        std::vector<std::string> read;
    };
    const Case cases[] = {
        {"no NUL anywhere: the open argument is dropped", "", 'x', {}},
        {"NUL at 1038 then a byte: the argument counts, the list ends with the scan",
         std::string(1038, 'x') + '\0' + 'y', 0, {std::string(1038, 'x')}},
        {"the only NUL at 1039 is never scanned", std::string(1039, 'x') + '\0', 0, {}},
        {"two arguments, then no closing pair",
         std::string("a") + '\0' + "b" + '\0' + std::string(1036, 'z'), 'z', {"a", "b"}},
        {"a pair of NULs closes the list before later bytes", std::string("a") + '\0' + '\0' + "junk", 0,
         {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Area area;
        std::memset(area, c.fill, sizeof area);
        ASSERT_LE(c.bytes.size(), argumentAreaSize);
        std::memcpy(area, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(c.read, unpackArguments(area));
    }
}

TEST(InstanceName, ReplacesThePathSeparatorWithUnderscores) {
    const struct {
        const char* path;
        const PlatformConventions& conventions;
        const char* name;
    } cases[] = {
        {"C:\\Tools\\App\\app.exe", windowsConventions(), "C:_Tools_App_app.exe"},
        {"\\\\server\\share\\app.exe", windowsConventions(), "__server_share_app.exe"},
        {"C:\\odd/mixed\\app.exe", windowsConventions(), "C:_odd/mixed_app.exe"},
        {"/opt/app/bin/app", posixConventions(), "_opt_app_bin_app"},
        {"/opt/my app\\x/app", posixConventions(), "_opt_my app\\x_app"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.name, instanceName(c.path, c.conventions));
    }
}

}  // namespace
}  // namespace qn

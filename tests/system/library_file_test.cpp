// Runtime libraries that are damaged or foreign: refused with the reason, never with a signal.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "platform/posix/library_file.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class DamagedLibrary : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qn-library-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        real = bytesOf(fs::path(QN_TEST_JDK_HOME) / "lib/server/libjvm.so");
        ASSERT_GT(real.size(), 1u << 20);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(folder / name, std::ios::binary) << content;
        return (folder / name).string();
    }

    fs::path folder;
    std::string real;
};

TEST_F(DamagedLibrary, TruncatedRuntimeLibraryIsRefusedWithItsName) {
    const struct {
        const char* name;
        std::size_t size;
    } cases[] = {
        {"first 64 KB", 65536},
        {"half", real.size() / 2},
        {"header only", 64},
        {"inside the header", 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write("libjvm.so", real.substr(0, c.size));
        std::uint32_t code = 99;
        EXPECT_EQ(nullptr, platform::loadLibrary(path, code));
        EXPECT_EQ(0u, code);
        const std::string reason = platform::lastErrorText();
        EXPECT_EQ(0u, reason.find(path + ": ")) << reason;
        EXPECT_TRUE(reason.find("truncated") != std::string::npos ||
                    reason.find("ELF header") != std::string::npos)
            << reason;
    }
}

TEST_F(DamagedLibrary, ForeignFilesAreLeftToTheLoaderWhichGivesItsReason) {
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"empty", ""},
        {"text", "not a library\n"},
        {"a Windows library", "MZ\x90" + std::string(200, '\0')},
        {"32-bit ELF header only", std::string("\x7f" "ELF\x01\x01\x01", 7) + std::string(9, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write("libjvm.so", c.content);
        std::uint32_t code = 99;
        EXPECT_EQ(nullptr, platform::loadLibrary(path, code));
        EXPECT_FALSE(platform::lastErrorText().empty());
        EXPECT_EQ(std::string::npos, platform::lastErrorText().find("errno"));
    }
}

TEST_F(DamagedLibrary, WholeLibraryPassesTheCheckAndMissingSymbolsAreWorded) {
    const std::string path = write("libjvm.so", real);
    EXPECT_EQ(std::nullopt, platform::incompleteLibrary(path));
    EXPECT_EQ(std::nullopt, platform::incompleteLibrary((folder / "absent.so").string()));
    std::uint32_t code = 0;
    void* library = platform::loadLibrary(path, code);
    ASSERT_NE(nullptr, library) << platform::lastErrorText();
    EXPECT_NE(nullptr, platform::librarySymbol(library, "JNI_CreateJavaVM", code));
    EXPECT_EQ(nullptr, platform::librarySymbol(library, "JNI_NoSuchEntry", code));
    EXPECT_NE(std::string::npos, platform::lastErrorText().find("JNI_NoSuchEntry")) << platform::lastErrorText();
}

TEST(ElfLayout, HeadersThatPointOutsideTheFile) {
    using platform::elfHeadersLength;
    using platform::elfLayoutProblem;
    // A minimal 64-bit header with one loadable segment at offset 0x1000 of 0x2000 bytes.
    std::string head(64 + 56, '\0');
    head.replace(0, 6, "\x7f" "ELF\x02\x01");
    head[32] = 64;  // e_phoff
    head[54] = 56;  // e_phentsize
    head[56] = 1;   // e_phnum
    head[64] = 1;   // PT_LOAD
    head[64 + 9] = 0x10;
    head[64 + 33] = 0x20;
    EXPECT_EQ(120u, elfHeadersLength(head));
    EXPECT_EQ(std::nullopt, elfLayoutProblem(head, 0x3000));
    EXPECT_TRUE(elfLayoutProblem(head, 0x2fff));
    EXPECT_TRUE(elfLayoutProblem(head.substr(0, 100), 100));  // the table itself is cut
    std::string wrapping = head;
    wrapping.replace(64 + 8, 8, std::string(8, '\xff'));  // an offset that wraps around
    EXPECT_TRUE(elfLayoutProblem(wrapping, 0x3000));
    std::string farTable = head;
    farTable[39] = '\x7f';  // e_phoff far beyond any file
    EXPECT_TRUE(elfLayoutProblem(farTable, 0x3000));
    std::string bigEndian = head;
    bigEndian[5] = 2;
    EXPECT_EQ(0u, elfHeadersLength(bigEndian));
    EXPECT_EQ(std::nullopt, elfLayoutProblem(bigEndian, 10));
}

}  // namespace
}  // namespace qn

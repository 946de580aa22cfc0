#include "text/jar_manifest.h"

#include <gtest/gtest.h>

namespace qn {
namespace {

const char kManifest[] =
    "Manifest-Version: 1.0\r\nMain-Class: demo.Main\r\nClass-Path: lib/one.jar lib/tw\r\n o.jar\r\n\r\n"
    "Name: x\r\nClass-Path: no.jar\r\n";
// kManifest deflated with fixed codes, and a longer manifest deflated with dynamic codes.
const std::string kFixed(
    "\xf3\x4d\xcc\xcb\x4c\x4b\x2d\x2e\xd1\x0d\x4b\x2d\x2a\xce\xcc\xcf\xb3\x52\x30\xd4\x33\xe0\xe5\xf2\x4d\xcc\xcc"
    "\xd3\x75\xce\x49\x2c\x2e\xb6\x52\x48\x49\xcd\xcd\xd7\x03\x09\xf0\x72\x81\x45\x74\x03\x12\x4b\x32\xac\x14\x72"
    "\x32\x93\xf4\xf3\xf3\x52\xf5\xb2\x12\x8b\xc0\xec\x92\x72\x5e\x2e\x85\x7c\x10\x97\x97\x8b\x97\xcb\x2f\x31\x37"
    "\xd5\x4a\xa1\x02\x55\x4b\x1e\x54\x1a\x00",
    91);
const std::string kDynamic(
    "\x5d\xd1\xbd\x0a\xc2\x40\x10\x45\xe1\x3e\x4f\x91\x17\x48\xcc\xcc\xf5\x37\xad\xb5\x90\x2a\xfd\x0a\x11\x57\x42"
    "\x94\xdd\x7d\x7f\x04\x0b\xe1\x6c\x79\xaa\xf9\xb8\x73\x0b\x5b\x7c\x2c\xb9\x74\xf3\x92\x72\x7c\x6f\x63\x6b\xfd"
    "\xd0\x5c\xd7\x90\x73\x37\x85\xf2\x1c\xdb\x35\xde\x77\x9f\x90\xca\xd0\xbf\x42\xfa\x97\xa1\x1c\x25\xd4\x1e\x75"
    "\x40\x1d\x51\x27\xd4\x19\x75\xe1\xf5\x0a\x43\x8d\x91\x63\xf4\x18\x41\x46\x91\x91\x64\x34\x19\x51\x46\x95\x53"
    "\xe5\xd5\x46\x54\x39\x55\x4e\x95\x53\xe5\x54\x39\x55\x4e\x95\x53\x25\xaa\x44\x95\xaa\xd7\x51\x25\xaa\x44\x95"
    "\xa8\x12\x55\xa2\x4a\x3f\x55\xf3\x05",
    144);

std::string dynamicText() {
    std::string text = "Manifest-Version: 1.0\nClass-Path:";
    for (int i = 0; i < 40; ++i) text += " lib/part" + std::to_string(i) + ".jar";
    return text + "\n";
}

std::string le(std::uint32_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

struct Entry {
    std::string name;
    std::string data;  // as stored
    int method = 0;
};

/// A zip as the jar tool writes one: local entries, the central directory, the end record.
std::string zip(const std::vector<Entry>& entries, const std::string& comment = "") {
    std::string out, directory;
    for (const Entry& e : entries) {
        const std::string sizes = le(0, 4) + le(static_cast<std::uint32_t>(e.data.size()), 4) + le(999, 4);
        directory += le(0x02014b50, 4) + le(20, 2) + le(20, 2) + le(0, 2) + le(e.method, 2) + le(0, 4) + sizes +
                     le(static_cast<std::uint32_t>(e.name.size()), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 2) +
                     le(0, 4) + le(static_cast<std::uint32_t>(out.size()), 4) + e.name;
        out += le(0x04034b50, 4) + le(20, 2) + le(0, 2) + le(e.method, 2) + le(0, 4) + sizes +
               le(static_cast<std::uint32_t>(e.name.size()), 2) + le(3, 2) + e.name + "xyz" + e.data;
    }
    const auto offset = static_cast<std::uint32_t>(out.size());
    out += directory;
    return out + le(0x06054b50, 4) + le(0, 4) + le(static_cast<std::uint32_t>(entries.size()), 2) +
           le(static_cast<std::uint32_t>(entries.size()), 2) + le(static_cast<std::uint32_t>(directory.size()), 4) +
           le(offset, 4) + le(static_cast<std::uint32_t>(comment.size()), 2) + comment;
}

std::optional<std::string> manifestOf(const std::string& file) {
    return jarManifest(file.size(), [&](std::uint64_t offset, std::size_t size) {
        return offset > file.size() ? std::string() : file.substr(static_cast<std::size_t>(offset), size);
    });
}

TEST(JarManifest, FoundStoredOrDeflatedAmongOtherEntries) {
    const Entry classFile{"demo/Main.class", "\xca\xfe\xba\xbe", 0};
    const struct {
        const char* name;
        std::string jar;
        std::optional<std::string> manifest;
    } cases[] = {
        {"stored", zip({{"META-INF/", ""}, {"META-INF/MANIFEST.MF", kManifest}, classFile}), std::string(kManifest)},
        {"fixed codes", zip({classFile, {"META-INF/MANIFEST.MF", kFixed, 8}}), std::string(kManifest)},
        {"dynamic codes", zip({{"META-INF/MANIFEST.MF", kDynamic, 8}}), dynamicText()},
        {"name in other case, comment after", zip({{"meta-inf/manifest.mf", kManifest}}, "made by hand"), std::string(kManifest)},
        {"no manifest", zip({classFile}), std::nullopt},
        {"empty zip", zip({}), std::nullopt},
        {"not a zip", std::string(200, 'x'), std::nullopt},
        {"too short", "PK", std::nullopt},
        {"cut deflate data", zip({{"META-INF/MANIFEST.MF", kFixed.substr(0, 40), 8}}), std::nullopt},
        {"unknown method", zip({{"META-INF/MANIFEST.MF", kManifest, 12}}), std::nullopt},
        {"directory cut off", zip({{"META-INF/MANIFEST.MF", kManifest}}).substr(40), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.manifest, manifestOf(c.jar));
    }
}

TEST(JarManifest, InflateRefusesDamageAndGrowth) {
    EXPECT_EQ(std::nullopt, inflateRaw(kDynamic, 100));  // grows past the limit
    // A stored block: its length, the length's complement, the bytes.
    EXPECT_EQ(std::string("abc"), inflateRaw(std::string("\x01\x03\x00\xfc\xff" "abc", 8), 10));
    EXPECT_EQ(std::nullopt, inflateRaw(std::string("\x01\x03\x00\xfc\xfe" "abc", 8), 10));
    EXPECT_EQ(std::nullopt, inflateRaw(std::string("\x07", 1), 10));  // block type 3 does not exist
    EXPECT_EQ(std::nullopt, inflateRaw("", 10));
}

TEST(JarManifest, MainSectionAttributes) {
    const struct {
        const char* manifest;
        const char* name;
        const char* value;
    } cases[] = {
        {kManifest, "Class-Path", "lib/one.jar lib/two.jar"},  // continued, and only the main section
        {kManifest, "class-path", "lib/one.jar lib/two.jar"},
        {kManifest, "Main-Class", "demo.Main"},
        {"Manifest-Version: 1.0\nClass-Path: a.jar\n b.jar\nX: y\n", "Class-Path", "a.jarb.jar"},
        {"Manifest-Version: 1.0\rClass-Path: a.jar\r", "Class-Path", "a.jar"},
        {"Class-Path: last.jar", "Class-Path", "last.jar"},
        {"Manifest-Version: 1.0\n\nClass-Path: b.jar\n", "Class-Path", ""},
        {"Class-Paths: b.jar\n", "Class-Path", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manifest);
        EXPECT_EQ(c.value, manifestAttribute(c.manifest, c.name));
    }
    EXPECT_EQ((std::vector<std::string>{"a.jar", "lib/b.jar", "c.jar"}), classPathUrls("  a.jar\tlib/b.jar  c.jar "));
    EXPECT_TRUE(classPathUrls(" \t").empty());
}

}  // namespace
}  // namespace qn

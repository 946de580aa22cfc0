#include "text/jar_manifest.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "vm/startup_cache.h"

namespace qn {
namespace {

const char kManifest[] =
    "Manifest-Version: 1.0\r\nMain-Class: demo.Main\r\nClass-Path: lib/one.jar lib/tw\r\n o.jar\r\n\r\n"
    "Name: x\r\nClass-Path: no.jar\r\n";
// kManifest deflated with fixed codes; the jvm tests' long manifest has dynamic ones.
const std::string kFixed(
    "\xf3\x4d\xcc\xcb\x4c\x4b\x2d\x2e\xd1\x0d\x4b\x2d\x2a\xce\xcc\xcf\xb3\x52\x30\xd4\x33\xe0\xe5\xf2\x4d\xcc\xcc"
    "\xd3\x75\xce\x49\x2c\x2e\xb6\x52\x48\x49\xcd\xcd\xd7\x03\x09\xf0\x72\x81\x45\x74\x03\x12\x4b\x32\xac\x14\x72"
    "\x32\x93\xf4\xf3\xf3\x52\xf5\xb2\x12\x8b\xc0\xec\x92\x72\x5e\x2e\x85\x7c\x10\x97\x97\x8b\x97\xcb\x2f\x31\x37"
    "\xd5\x4a\xa1\x02\x55\x4b\x1e\x54\x1a\x00",
    91);

std::string le(std::size_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

struct Entry {
    std::string name, stored;
    int method = 0;
};

/// A zip as the jar tool writes one: local entries, the central directory, the end record.
std::string zip(const std::vector<Entry>& entries, const std::string& comment = "") {
    std::string out, directory;
    for (const Entry& e : entries) {
        // Version, flags, method, time, checksum, sizes, name length: the same in both headers.
        const std::string common = le(20, 2) + le(0, 2) + le(e.method, 2) + le(0, 8) + le(e.stored.size(), 4) + le(999, 4) + le(e.name.size(), 2);
        directory += le(0x02014b50, 4) + le(20, 2) + common + std::string(12, '\0') + le(out.size(), 4) + e.name;
        out += le(0x04034b50, 4) + common + le(3, 2) + e.name + "xyz" + e.stored;
    }
    return out + directory + le(0x06054b50, 4) + le(0, 4) + le(entries.size(), 2) + le(entries.size(), 2) +
           le(directory.size(), 4) + le(out.size(), 4) + le(comment.size(), 2) + comment;
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
        {"stored, name in other case, comment after",
         zip({{"META-INF/", ""}, {"meta-inf/manifest.mf", kManifest}, classFile}, "made by hand"), std::string(kManifest)},
        {"deflated", zip({classFile, {"META-INF/MANIFEST.MF", kFixed, 8}}), std::string(kManifest)},
        {"no manifest", zip({classFile}), std::nullopt},
        {"not a zip", std::string(200, 'x'), std::nullopt},
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
    EXPECT_EQ(std::nullopt, inflateRaw(kFixed, 50));  // grows past the limit
    EXPECT_EQ(std::string("abc"), inflateRaw(std::string("\x01\x03\x00\xfc\xff" "abc", 8), 10));  // stored
    EXPECT_EQ(std::nullopt, inflateRaw(std::string("\x01\x03\x00\xfc\xfe" "abc", 8), 10));  // length's complement wrong
    EXPECT_EQ(std::nullopt, inflateRaw(std::string("\x07", 1), 10));  // block type 3 does not exist
}

TEST(JarManifest, MainSectionAttributes) {
    const struct {
        const char* manifest;
        const char* name;
        const char* value;
    } cases[] = {
        {kManifest, "Class-Path", "lib/one.jar lib/two.jar"},  // continued, and only the main section
        {"Class-Path: last.jar", "Class-Path", "last.jar"},
        {"Manifest-Version: 1.0\n\nClass-Path: b.jar\n", "Class-Path", ""},
        {"Class-Paths: b.jar\n", "Class-Path", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manifest);
        EXPECT_EQ(c.value, manifestAttribute(c.manifest, c.name));
    }
}

TEST(JarManifest, ClassPathIsFollowedAsTheRuntimeFollowsIt) {
    const auto naming = [](const std::string& urls) { return zip({{"META-INF/MANIFEST.MF", "Class-Path: " + urls + "\n"}}); };
    fake::addFile("C:\\App\\app.jar", naming("lib/b.jar lib/sub%20dir/c.jar file:/C:/Shared/d.jar http://x/e.jar ../B/x%2by.jar "
                                             "file:///D:/x.jar file://host/x.jar C:/x.jar classes/"));
    fake::addFile("C:\\App\\lib\\b.jar", naming("../app.jar ./b.jar c.jar"));  // loops come back once
    fake::addFile("C:\\App\\lib\\sub dir\\c.jar", "not a zip");
    EXPECT_EQ((std::vector<std::string>{"C:\\App\\app.jar", "C:\\App\\lib\\b.jar", "C:\\App\\lib\\c.jar",
                                        "C:\\App\\lib\\sub dir\\c.jar", "C:\\Shared\\d.jar", "C:\\B\\x+y.jar", "D:\\x.jar",
                                        "C:\\App\\classes"}),
              reachedClassPath({"C:\\App\\app.jar", "C:\\App\\classes", "C:\\App\\lib\\b.jar"}));
}

}  // namespace
}  // namespace qn

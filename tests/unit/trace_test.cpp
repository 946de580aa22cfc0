#include <gtest/gtest.h>

#include <regex>

#include "fake_platform.h"
#include "trace/trace.h"

namespace qn {
namespace {

const char* const kTraceFile = "C:\\Logs\\trace.txt";

void traceTo(const std::string& target) {
    fake::system().environment["QN_LAUNCHER_TRACE"] = target;
    trace::restart();
}

struct Line {
    long long elapsed;
    unsigned long processId;
    std::string rest;
};

std::vector<Line> parse(const std::string& text) {
    static const std::regex form(R"(^ *(\d+) \[(\d+)\] (.*)$)");
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        std::smatch match;
        EXPECT_TRUE(std::regex_match(line, match, form)) << line;
        if (!match.empty()) lines.push_back({std::stoll(match[1]), std::stoul(match[2]), match[3]});
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

TEST(Trace, WithoutTheVariableNothingIsWrittenAnywhere) {
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(value ? "empty variable" : "no variable");
        fake::reset();
        fake::addDirectory("C:\\Logs");
        if (value) traceTo(value);
        const auto filesBefore = fake::system().files;
        EXPECT_FALSE(trace::enabled());
        trace::line("runtime", "chosen");
        EXPECT_EQ(filesBefore, fake::system().files);
        EXPECT_EQ("", fake::system().standardError);
    }
}

TEST(Trace, DestinationsThatCannotBeOpenedTurnTheTraceOff) {
    const struct {
        const char* name;
        const char* target;
        bool posix;
    } cases[] = {
        {"folder missing", "C:\\Missing\\trace.txt", false},
        {"a folder, not a file", "C:\\Logs", false},
        {"unwritable file", kTraceFile, false},
        {"no temporary folder for -", "-", false},
        {"no standard error for -", "-", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        if (c.posix) fake::system().conventions = &posixConventions();
        fake::addDirectory("C:\\Logs");
        fake::system().unwritableFiles.insert(kTraceFile);
        fake::system().temporaryFolder.clear();
        fake::system().hasStandardError = false;
        const auto filesBefore = fake::system().files;
        traceTo(c.target);
        EXPECT_FALSE(trace::enabled());
        trace::line("launcher", "exit code 0");
        EXPECT_EQ(filesBefore, fake::system().files);
    }
}

TEST(Trace, AppendsOneLinePerCallAfterWhatTheFileHeld) {
    fake::addFile(kTraceFile, "earlier start\n");
    fake::system().processAgeMs = 1500;
    traceTo(kTraceFile);
    EXPECT_TRUE(trace::enabled());
    trace::line("launcher", "executable C:\\App\\app.exe");
    trace::line("key", "[Application] Single Instance = " + trace::quoted(" yes"));

    const std::string& content = fake::system().files[kTraceFile];
    ASSERT_EQ(0u, content.rfind("earlier start\n", 0));
    const std::vector<Line> lines = parse(content.substr(std::string("earlier start\n").size()));
    ASSERT_EQ(2u, lines.size());
    // Counted from the process's creation, not from the first line.
    EXPECT_GE(lines[0].elapsed, 1500);
    EXPECT_LT(lines[0].elapsed, 1500 + 60000);
    EXPECT_LE(lines[0].elapsed, lines[1].elapsed);
    EXPECT_EQ(4000u, lines[0].processId);
    EXPECT_EQ("launcher: executable C:\\App\\app.exe", lines[0].rest);
    EXPECT_EQ("key: [Application] Single Instance = \" yes\"", lines[1].rest);
}

TEST(Trace, CreatesAMissingFile) {
    fake::addDirectory("C:\\Logs");
    traceTo(kTraceFile);
    trace::line("launcher", "exit code 0");
    ASSERT_EQ(1u, fake::system().files.count(kTraceFile));
    EXPECT_EQ("launcher: exit code 0", parse(fake::system().files[kTraceFile]).at(0).rest);
}

TEST(Trace, EscapesControlCharactersAndKeepsEverythingElse) {
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"line\nbreak", "line\\x0abreak"},
        {"tab\there", "tab\\x09here"},
        {"carriage\r", "carriage\\x0d"},
        {"del\x7f", "del\\x7f"},
        {"\x1b[31m", "\\x1b[31m"},
        {"C:\\Program Files\\Java\\", "C:\\Program Files\\Java\\"},
        {"caf\xe9 \"quoted\" 100%", "caf\xe9 \"quoted\" 100%"},
        {"", ""},
    };
    fake::addDirectory("C:\\Logs");
    traceTo(kTraceFile);
    for (const auto& c : cases) trace::line("option", c.text);
    const std::vector<Line> lines = parse(fake::system().files[kTraceFile]);
    ASSERT_EQ(std::size(cases), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string("option: ") + cases[i].written, lines[i].rest);
    }
}

TEST(Trace, DashMeansStandardErrorOrTheTemporaryFolderWithoutAConsole) {
    const std::string windowsFile = "C:\\Users\\user\\AppData\\Local\\Temp\\qnlauncher-trace.txt";
    const struct {
        const char* what;
        const PlatformConventions& conventions;
        bool toStandardError;
    } cases[] = {
        {"the Windows GUI program", windowsConventions(), false},
        {"the Windows console build", windowsConsoleConventions(), true},
        {"POSIX", posixConventions(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        fake::system().conventions = &c.conventions;
        fake::addDirectory("C:\\Users\\user\\AppData\\Local\\Temp");
        traceTo("-");
        trace::line("launcher", "exit code 0");
        const std::string& written = c.toStandardError ? fake::system().standardError : fake::system().files[windowsFile];
        EXPECT_EQ("launcher: exit code 0", parse(written).at(0).rest);
        EXPECT_EQ(c.toStandardError, fake::system().files.count(windowsFile) == 0);
    }
}

TEST(Trace, ReadsTheVariableOncePerStart) {
    fake::addDirectory("C:\\Logs");
    traceTo(kTraceFile);
    trace::line("launcher", "first");
    // The launcher publishes variables of its own meanwhile; the destination stays.
    fake::system().environment["QN_LAUNCHER_TRACE"] = "C:\\Logs\\other.txt";
    trace::line("launcher", "second");
    EXPECT_EQ(2u, parse(fake::system().files[kTraceFile]).size());
    EXPECT_EQ(0u, fake::system().files.count("C:\\Logs\\other.txt"));
}

TEST(Trace, AFileThatStopsTakingLinesChangesNothingElse) {
    fake::addDirectory("C:\\Logs");
    traceTo(kTraceFile);
    trace::line("launcher", "before");
    fake::system().unwritableFiles.insert(kTraceFile);  // the disk is full
    trace::line("launcher", "lost");
    fake::system().unwritableFiles.clear();
    trace::line("launcher", "after");
    const std::vector<Line> lines = parse(fake::system().files[kTraceFile]);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("launcher: after", lines[1].rest);
}

TEST(Trace, UnknownProcessAgeStillGivesIncreasingTimes) {
    fake::system().processAgeMs.reset();
    fake::addDirectory("C:\\Logs");
    traceTo(kTraceFile);
    trace::line("launcher", "one");
    trace::line("launcher", "two");
    const std::vector<Line> lines = parse(fake::system().files[kTraceFile]);
    ASSERT_EQ(2u, lines.size());
    EXPECT_GE(lines[0].elapsed, 0);
    EXPECT_LE(lines[0].elapsed, lines[1].elapsed);
}

}  // namespace
}  // namespace qn

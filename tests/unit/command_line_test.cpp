#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/command_line.h"
#include "launcher/launcher.h"

namespace qn {
namespace {

using Words = std::vector<std::string>;

// Q stands for a double quote in the readable forms below.
std::string quoted(std::string text) {
    for (char& c : text) {
        if (c == 'Q') c = '"';
    }
    return text;
}

Words argumentsOf(const std::string& commandLine) {
    fake::system().commandLine = {true, commandLine, {}};
    Launcher launcher;
    readCommandLine(launcher);
    return launcher.arguments;
}

TEST(SplitArguments, TheLaunchersOwnRule) {
    const struct {
        const char* line;
        Words words;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"QQ x", {"", "x"}},
        {"aQb cQ", {quoted("aQb"), quoted("cQ")}},
        {"Qa bQc", {"a b", "c"}},          // a closing quote ends the word; c starts the next
        {"Qa b", {"a b"}},                 // unclosed quote takes the rest
        {"a\tb", {"a\tb"}},                // only the space separates
        {"a   b", {"a", "b"}},
        {"a\\\" b", {"a\\\"", "b"}},       // no escape character
        {"Q Q", {" "}},
        {"a Q", {"a", ""}},                // an opening quote at the very end gives an empty word
    };
    for (const auto& c : cases) {
        const std::string line = quoted(c.line);
        SCOPED_TRACE(line);
        EXPECT_EQ(c.words, splitArguments(line));
    }
}

TEST(ReadCommandLine, DropsTheProgramAndTrimsWhiteSpace) {
    const struct {
        const char* line;
        Words arguments;
    } cases[] = {
        {"QC:\\Program Files\\App\\app.exeQ -nosplash Qmy file.txtQ", {"-nosplash", "my file.txt"}},
        {"C:\\Program Files\\App\\app.exe x", {"Files\\App\\app.exe", "x"}},
        {"app.exe QQ x", {"", "x"}},
        {" \t app.exe  a  b \r\n", {"a", "b"}},
        {"app.exe", {}},
        {"   ", {}},
        {"app.exe -NOSPLASH", {"-NOSPLASH"}},
    };
    for (const auto& c : cases) {
        const std::string line = quoted(c.line);
        SCOPED_TRACE(line);
        EXPECT_EQ(c.arguments, argumentsOf(line));
    }
}

TEST(TrimWhiteSpace, StepsByCharactersNotBytes) {
    // 0x81 leads a double-byte character whose trail byte has a space's code: it must stay whole.
    fake::system().leadBytes = {0x81};
    EXPECT_EQ("app.exe x\x81 ", trimWhiteSpace(" app.exe x\x81 "));
    EXPECT_EQ("app.exe x\x81\t", trimWhiteSpace("app.exe x\x81\t\t "));
    fake::system().leadBytes.clear();
    EXPECT_EQ("app.exe x\x81", trimWhiteSpace("app.exe x\x81 "));
}

TEST(ReadCommandLine, PosixTakesArgvAsGiven) {
    fake::system().commandLine = {false, "", {"a b", "", "\"q\""}};
    Launcher launcher;
    readCommandLine(launcher);
    EXPECT_EQ((Words{"a b", "", "\"q\""}), launcher.arguments);
}

TEST(AppendExtraArguments, ExpandsSplitsAndDropsEmptyWords) {
    fake::system().environment["TEMP"] = "C:\\Temp";
    Launcher launcher;
    launcher.arguments = {"first"};
    launcher.extraArgumentsText = quoted("%TEMP%\\in.txt QQ x %UNDEFINED%");
    appendExtraArguments(launcher);
    EXPECT_EQ((Words{"first", "C:\\Temp\\in.txt", "x", "%UNDEFINED%"}), launcher.arguments);
    EXPECT_EQ(quoted("C:\\Temp\\in.txt QQ x %UNDEFINED%"), launcher.extraArgumentsText);
}

TEST(AppendExtraArguments, LeadingBlankIsNoWordAndEmptyDoesNothing) {
    Launcher launcher;
    launcher.arguments = {"a"};
    appendExtraArguments(launcher);
    EXPECT_EQ((Words{"a"}), launcher.arguments);
    launcher.extraArgumentsText = " -nosplash";  // as an additive section delivers it
    appendExtraArguments(launcher);
    EXPECT_EQ((Words{"a", "-nosplash"}), launcher.arguments);
}

TEST(FindArgument, CaseSensitiveWholeWords) {
    const Words words = {"-NoSplash", "x-nosplash", "-nosplash", "/nosplash", "-nosplash"};
    EXPECT_EQ(2, findArgument(words, "-nosplash"));
    EXPECT_EQ(3, findArgument(words, "/nosplash"));
    EXPECT_EQ(-1, findArgument(words, "-NOSPLASH"));
    EXPECT_EQ(-1, findArgument({}, "-nosplash"));
}

}  // namespace
}  // namespace qn

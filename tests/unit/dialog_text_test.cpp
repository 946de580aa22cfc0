#include <gtest/gtest.h>

#include "text/colour_text.h"
#include "text/terminal_answer.h"

namespace qn::platform {
namespace {

TEST(ColourText, ThreeNumbersOrNothing) {
    const struct {
        const char* text;
        std::optional<Rgb> colour;
    } cases[] = {
        {"0,0,255", Rgb{0, 0, 255}},
        {"128,0,128", Rgb{128, 0, 128}},
        {" 12 , 34 ,56 ", Rgb{12, 34, 56}},
        {"255,255,255", Rgb{255, 255, 255}},
        {"256,0,0", std::nullopt},
        {"1,2", std::nullopt},
        {"1,2,3,4", std::nullopt},
        {"1,,3", std::nullopt},
        {"-1,2,3", std::nullopt},
        {"1;2;3", std::nullopt},
        {"blue", std::nullopt},
        {"", std::nullopt},
        {"0000000000000000001,2,3", Rgb{1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.colour, parseColourText(c.text));
    }
}

TEST(ExceptionAnswer, IgnoreIsTheDefault) {
    const struct {
        const char* line;
        std::optional<ExceptionAnswer> answer;
    } cases[] = {
        {"", ExceptionAnswer::Ignore},
        {"   ", ExceptionAnswer::Ignore},
        {"i", ExceptionAnswer::Ignore},
        {"Ignore", ExceptionAnswer::Ignore},
        {"s", ExceptionAnswer::Stop},
        {" STOP\r", ExceptionAnswer::Stop},
        {"S", ExceptionAnswer::Stop},
        {"yes", std::nullopt},
        {"stopp", std::nullopt},
        {"s i", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.answer, parseExceptionAnswer(c.line));
    }
}

TEST(ExceptionAnswer, FirstLineOfTheTrace) {
    EXPECT_EQ("java.lang.Error: x", firstLine("java.lang.Error: x\r\n\tat a.B"));
    EXPECT_EQ("java.lang.Error: x", firstLine("java.lang.Error: x\n\tat a.B"));
    EXPECT_EQ("only", firstLine("only"));
    EXPECT_EQ("", firstLine("\nrest"));
}

}  // namespace
}  // namespace qn::platform

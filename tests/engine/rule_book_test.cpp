// Rule-book evaluation: the documented examples, the grammar's error texts,
// left-to-right evaluation without precedence, and random input that must
// neither crash nor loop.
#include "engine/rule_book.h"

#include <gtest/gtest.h>

#include <random>

namespace fetchora {
namespace {

std::vector<int32_t> matching(std::string_view text, int32_t bandwidth = kSubscribeBandwidth, int* count = nullptr)
{
    std::vector<int32_t> out;
    std::string error;
    const int result = EvaluateRuleBook(text, bandwidth, out, &error);
    EXPECT_TRUE(error.empty()) << text << ": " << error;
    if (count)
        *count = result;
    return out;
}

TEST(RuleBook, TheDocumentedExamples)
{
    struct Case {
        const char* text;
        int32_t bandwidth;
        std::vector<int32_t> rules;
    };
    const Case cases[] = {
        // Two condition rules on the bandwidth, the first with an assignment.
        {"#($Bandwidth >= 20000), AverageBandwidth=20000;#($Bandwidth < 20000);", kSubscribeBandwidth, {0, -1}},
        {"#($Bandwidth >= 20000), AverageBandwidth=20000;#($Bandwidth < 20000);", 19999, {1, -1}},
        {"#$Bandwidth > 0 & $OldPNMPlayer = 0;", kSubscribeBandwidth, {0, -1}},
        {"AverageBandwidth=1000;", kSubscribeBandwidth, {0, -1}},
        // No precedence: (1 | 0) & 0.
        {"#1 | 0 & 0;", kSubscribeBandwidth, {-1}},
        {"#0 & 0 | 1;", kSubscribeBandwidth, {0, -1}},
        {"", kSubscribeBandwidth, {-1}},
        {"  ;  ;", kSubscribeBandwidth, {0, 1, -1}},
        // Comparisons chain from the left: (3 < 2) < 1 is 0 < 1.
        {"#3 < 2 < 1;#5 == 5 == 1;#2 >= 3;#(2 <= 2) && (4 > 3) || 0;", kSubscribeBandwidth, {0, 1, 3, -1}},
        {"Name=\"a text\", Other=Word, N=5;#$OldPNMPlayer;", kSubscribeBandwidth, {0, -1}},
        // A backslash is skipped and the byte after it read as usual.
        {"#\\$Bandwidth\\>\\1;", kSubscribeBandwidth, {0, -1}},
    };
    for (const Case& c : cases) {
        int count = -2;
        EXPECT_EQ(matching(c.text, c.bandwidth, &count), c.rules) << c.text;
        EXPECT_EQ(count, static_cast<int>(c.rules.size()) - 1) << c.text;
    }
}

TEST(RuleBook, ErrorsNameWhatWasExpected)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"#1", "semicolon expected.\n"},
        {"#$Speed > 1;", "error: unknown identifier Speed\n"},
        {"#$ > 1;", "error: identifier expected.\n"},
        {"#(1 > 0;", "error: ) expected.\n"},
        {"#> 1;", "syntax error, $ number or ( expected\n"},
        {"=5;", "error: identifier expected\n"},
        {"A 5;", "error: = expected\n"},
        {"A=;", "error: number or string expected\n"},
        {"#1, A=;", "error: number or string expected\n"},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> out;
        std::string error;
        EXPECT_EQ(EvaluateRuleBook(c.text, kSubscribeBandwidth, out, &error), -1) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(out, std::vector<int32_t>{-1}) << c.text;
    }
}

TEST(RuleBook, DeepNestingIsRefusedNotRecursedWithoutEnd)
{
    const std::string deep = "#" + std::string(100000, '(') + "1" + std::string(100000, ')') + ";";
    std::vector<int32_t> out;
    std::string error;
    EXPECT_EQ(EvaluateRuleBook(deep, kSubscribeBandwidth, out, &error), -1);
    EXPECT_EQ(error, "error: ) expected.\n");
    const std::string fine
        = "#" + std::string(kMaxRuleBookDepth, '(') + "1" + std::string(kMaxRuleBookDepth, ')') + ";";
    EXPECT_EQ(matching(fine), (std::vector<int32_t>{0, -1}));
}

TEST(RuleBook, RandomRuleBooksNeverCrashOrLoop)
{
    const std::string pieces[] = {"#", "$",  "(",          ")",  ",",    ";",  "&",  "&&", "|",         "||",
                                  "=", "==", "<",          "<=", ">",    ">=", "\"", "\\", "Bandwidth", "OldPNMPlayer",
                                  "X", "12", "4294967296", " ",  "\x01", "@"};
    std::mt19937 random(20240);
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            if (random() % 8 == 0)
                text.push_back(static_cast<char>(random()));
            else
                text += pieces[random() % std::size(pieces)];
        }
        std::vector<int32_t> out;
        std::string error;
        const int count = EvaluateRuleBook(text, static_cast<int32_t>(random()), out, &error);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), -1);
        if (count < 0) {
            EXPECT_FALSE(error.empty()) << text;
        } else {
            EXPECT_EQ(static_cast<std::size_t>(count) + 1, out.size());
            for (std::size_t i = 1; i + 1 < out.size(); ++i)
                EXPECT_LT(out[i - 1], out[i]);
        }
    }
}

}  // namespace
}  // namespace fetchora

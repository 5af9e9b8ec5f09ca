#include "cli/terminal_text.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(TerminalSafe, EscapesC0DelAndC1ControlsAndBrokenUtf8)
{
    // An OSC title change, a bell, a CSI in its 8-bit form and in UTF-8.
    EXPECT_EQ(terminalSafe("a\x1b]0;x\x07z"), "a\\x1b]0;x\\x07z");
    EXPECT_EQ(terminalSafe("\x9b"
                           "2J"),
              "\\x9b2J");
    EXPECT_EQ(terminalSafe("\xc2\x9b"
                           "2J"),
              "\\u009b2J");
    EXPECT_EQ(terminalSafe("tab\there\r\n\x7f"), "tab\\x09here\\x0d\\x0a\\x7f");
    // Overlong, surrogate and truncated sequences are bytes, not characters.
    EXPECT_EQ(terminalSafe("\xc0\x9b"), "\\xc0\\x9b");
    EXPECT_EQ(terminalSafe("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(terminalSafe("end\xe2\x82"), "end\\xe2\\x82");
}

TEST(TerminalSafe, LeavesPrintableTextAndUtf8Alone)
{
    EXPECT_EQ(terminalSafe("r\xc3\xa9sum\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6.bin"),
              "r\xc3\xa9sum\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6.bin");
    EXPECT_EQ(terminalSafe("C:\\dir\\f.bin"), "C:\\dir\\f.bin");
    EXPECT_EQ(terminalSafe(""), "");
}

TEST(Utf8Prefix, NeverCutsInsideACharacter)
{
    EXPECT_EQ(utf8Prefix("ab\xe2\x82\xac", 4), "ab");
    EXPECT_EQ(utf8Prefix("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
    EXPECT_EQ(utf8Prefix("abc", 2), "ab");
}

}  // namespace
}  // namespace fetchora

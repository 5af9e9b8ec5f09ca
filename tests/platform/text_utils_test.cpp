#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include <string>

namespace fetchora {
namespace {

using namespace std::string_view_literals;

TEST(TextUtils, TrimRemovesOnlyTheGivenBlanks)
{
    EXPECT_EQ(trimBoth(" \t a b \t ", kSpaceTab), "a b");
    // A CR is no blank to a caller that trims spaces and tabs only.
    EXPECT_EQ(trimBoth("\r a \r", kSpaceTab), "\r a \r");
    EXPECT_EQ(trimBoth("\r\n a \r\n", kLineBlanks), "a");
    EXPECT_EQ(trimBoth("\v\f a \f\v", kLineBlanks), "\v\f a \f\v");
    EXPECT_EQ(trimBoth("\v\f a \f\v", kWhiteSpace), "a");
    EXPECT_EQ(trimLeft("  a  ", kSpaceTab), "a  ");
    EXPECT_EQ(trimRight("  a  ", kSpaceTab), "  a");
    EXPECT_EQ(trimRight("a \t\r", " \t\r"), "a");
}

TEST(TextUtils, TrimOfBlankOrEmptyTextIsEmpty)
{
    for (const std::string_view text : {""sv, " "sv, " \t \t"sv}) {
        EXPECT_EQ(trimBoth(text, kSpaceTab), "");
        EXPECT_EQ(trimLeft(text, kSpaceTab), "");
        EXPECT_EQ(trimRight(text, kSpaceTab), "");
    }
    // The result is a view into the text, not a copy.
    const std::string_view text = "  x  ";
    EXPECT_EQ(trimBoth(text, kSpaceTab).data(), text.data() + 2);
    const std::string_view blank = "   ";
    EXPECT_EQ(trimBoth(blank, kSpaceTab).data(), blank.data() + 3);
    EXPECT_EQ(trimRight(blank, kSpaceTab).data(), blank.data());
}

TEST(TextUtils, BlankSetsNeverMatchNulOrOtherBytes)
{
    EXPECT_TRUE(isBlank(' ', kSpaceTab));
    EXPECT_TRUE(isBlank('\t', kSpaceTab));
    EXPECT_FALSE(isBlank('\n', kSpaceTab));
    EXPECT_TRUE(isBlank('\n', kLineBlanks));
    EXPECT_TRUE(isBlank('\v', kWhiteSpace));
    for (const std::string_view blanks : {kSpaceTab, kLineBlanks, kWhiteSpace}) {
        EXPECT_FALSE(isBlank('\0', blanks));
        EXPECT_FALSE(isBlank('x', blanks));
        EXPECT_FALSE(isBlank('\xA0', blanks));  // no-break space of Latin-1
    }
    EXPECT_EQ(trimBoth(std::string_view("\0a\0", 3), kWhiteSpace), std::string_view("\0a\0", 3));
}

TEST(TextUtils, CaseFoldingTouchesAsciiLettersOnly)
{
    EXPECT_EQ(asciiLower("Content-TYPE: A/Z @[`{"), "content-type: a/z @[`{");
    EXPECT_EQ(asciiUpper("file.tar.gz a/z @[`{"), "FILE.TAR.GZ A/Z @[`{");
    // UTF-8 and Latin-1 bytes stay as they are, whatever the locale says.
    EXPECT_EQ(asciiLower("\xC3\x84RGER\xC4"), "\xC3\x84rger\xC4");
    EXPECT_EQ(asciiUpper("\xC3\xA4rger\xE4"), "\xC3\xA4RGER\xE4");
    EXPECT_EQ(asciiLowerChar('@'), '@');
    EXPECT_EQ(asciiLowerChar('['), '[');
    EXPECT_EQ(asciiUpperChar('`'), '`');
    EXPECT_EQ(asciiUpperChar('{'), '{');
    EXPECT_EQ(asciiLower(std::string_view("A\0B", 3)), std::string("a\0b", 3));
}

TEST(TextUtils, ComparisonsIgnoreAsciiCaseOnly)
{
    EXPECT_TRUE(equalsIgnoringCase("Content-Length", "content-length"));
    EXPECT_TRUE(equalsIgnoringCase("", ""));
    EXPECT_FALSE(equalsIgnoringCase("abc", "abcd"));
    EXPECT_FALSE(equalsIgnoringCase("abcd", "abc"));
    EXPECT_FALSE(equalsIgnoringCase("@", "`"));  // 0x40 and 0x60 differ by the case bit
    EXPECT_FALSE(equalsIgnoringCase("\xC4", "\xE4"));

    EXPECT_TRUE(startsWithIgnoringCase("HTTP://host", "http://"));
    EXPECT_TRUE(startsWithIgnoringCase("x", ""));
    EXPECT_FALSE(startsWithIgnoringCase("http", "http://"));
    EXPECT_FALSE(startsWithIgnoringCase("ftp://", "http://"));
}

TEST(TextUtils, FindIgnoringCaseStaysInsideTheText)
{
    EXPECT_EQ(findIgnoringCase("<A HREF=x></A>", "</a"), 10u);
    EXPECT_EQ(findIgnoringCase("</a></A>", "</a", 1), 4u);
    EXPECT_EQ(findIgnoringCase("abc", "abc", 0), 0u);
    EXPECT_EQ(findIgnoringCase("abc", "abc", 1), std::string_view::npos);
    EXPECT_EQ(findIgnoringCase("ab", "abc"), std::string_view::npos);
    EXPECT_EQ(findIgnoringCase("abc", "", 3), 3u);
    EXPECT_EQ(findIgnoringCase("abc", "", 4), std::string_view::npos);
    EXPECT_EQ(findIgnoringCase("abc", "c", std::string_view::npos), std::string_view::npos);
}

TEST(TextUtils, HexDigitsOfBothCasesAndNothingElse)
{
    const std::string_view digits = "0123456789abcdef";
    for (size_t i = 0; i < digits.size(); ++i) {
        EXPECT_EQ(hexDigitValue(digits[i]), static_cast<int>(i));
        EXPECT_EQ(hexDigitValue(asciiUpperChar(digits[i])), static_cast<int>(i));
        EXPECT_TRUE(isHexDigit(digits[i]));
        EXPECT_EQ(upperHexDigit(static_cast<unsigned>(i)), asciiUpperChar(digits[i]));
    }
    // The neighbours of each range.
    for (const char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', '\xB0'}) {
        EXPECT_EQ(hexDigitValue(c), -1) << static_cast<int>(c);
        EXPECT_FALSE(isHexDigit(c));
    }
    // Only the low four bits count.
    EXPECT_EQ(upperHexDigit(0x1Fu), 'F');
    EXPECT_EQ(upperHexDigit(0xA0u), '0');
}

}  // namespace
}  // namespace fetchora

#pragma once
// The small text helpers every layer needs: ASCII case folding, trimming,
// blank checks and hexadecimal digits.
//
// Case folding is ASCII-only on purpose: host names, header names, keys and
// extensions are compared byte by byte, whatever locale a front end sets, and
// bytes of UTF-8 names are never touched. Callers say which characters count
// as blank, since protocols and file formats differ there.
#include <cstddef>
#include <string>
#include <string_view>

namespace fetchora {

// Blank sets for the trimming and blank checks.
inline constexpr std::string_view kSpaceTab = " \t";
inline constexpr std::string_view kLineBlanks = " \t\r\n";
// The C library's white space: space, tab, CR, LF, vertical tab, form feed.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

constexpr bool isBlank(char c, std::string_view blanks)
{
    return blanks.find(c) != std::string_view::npos;
}

std::string_view trimLeft(std::string_view text, std::string_view blanks);
std::string_view trimRight(std::string_view text, std::string_view blanks);
std::string_view trimBoth(std::string_view text, std::string_view blanks);

constexpr char asciiLowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char asciiUpperChar(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);

bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
// Where needle first occurs in text at or after from, any case; npos when
// absent. An empty needle is found at from (when from is inside the text).
std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// The value of a hexadecimal digit of either case; -1 for any other byte.
constexpr int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
constexpr bool isHexDigit(char c)
{
    return hexDigitValue(c) >= 0;
}
// The upper-case digit of the low four bits of value, as in "%2F".
constexpr char upperHexDigit(unsigned value)
{
    return "0123456789ABCDEF"[value & 0xFu];
}

}  // namespace fetchora

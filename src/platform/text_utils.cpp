#include "platform/text_utils.h"

#include <algorithm>

namespace fetchora {

std::string_view trimLeft(std::string_view text, std::string_view blanks)
{
    // An all-blank text leaves an empty view at its end, as the loops that
    // trimmed in place did.
    const std::size_t first = text.find_first_not_of(blanks);
    return text.substr(first == std::string_view::npos ? text.size() : first);
}

std::string_view trimRight(std::string_view text, std::string_view blanks)
{
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view trimBoth(std::string_view text, std::string_view blanks)
{
    return trimRight(trimLeft(text, blanks), blanks);
}

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiLowerChar);
    return out;
}

std::string asciiUpper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiUpperChar);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLowerChar(x) == asciiLowerChar(y);
           });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from)
{
    for (std::size_t i = from; i <= text.size() && needle.size() <= text.size() - i; ++i) {
        if (equalsIgnoringCase(text.substr(i, needle.size()), needle))
            return i;
    }
    return std::string_view::npos;
}

}  // namespace fetchora

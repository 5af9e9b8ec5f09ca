#include "config/pattern_list.h"

#include "config/list_registry.h"
#include "platform/text_utils.h"

#include <string>

namespace fetchora {

namespace {

std::string normaliseExtension(std::string_view extension)
{
    std::string text = asciiUpper(extension);
    if (text.empty() || text.front() != '.')
        text.insert(text.begin(), '.');
    if (text.size() > kPatternMaxLength)
        text.resize(kPatternMaxLength);
    return text;
}

// One item of a class: a single character or an inclusive range "a-b". Any
// other item (empty, or longer) matches nothing.
bool itemMatches(std::string_view item, char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (item.size() == 1)
        return item[0] == c;
    if (item.size() == 3 && item[1] == '-')
        return static_cast<unsigned char>(item[0]) <= u && u <= static_cast<unsigned char>(item[2]);
    return false;
}

bool classMatches(std::string_view items, char c)
{
    while (true) {
        const size_t comma = items.find(',');
        if (itemMatches(items.substr(0, comma), c))
            return true;
        if (comma == std::string_view::npos)
            return false;
        items.remove_prefix(comma + 1);
    }
}

// Both texts already upper-case and cut.
bool matchNormalised(std::string_view pattern, std::string_view text)
{
    if (pattern.find_first_of("[?") == std::string_view::npos)
        return pattern == text;
    if (pattern.size() < text.size())
        return false;
    size_t p = 0;
    size_t t = 0;
    while (p < pattern.size() && t < text.size()) {
        const char c = pattern[p];
        if (c == '?') {
            ++p;
        } else if (c == '[') {
            const size_t close = pattern.find(']', p + 1);
            if (close == std::string_view::npos)
                return false;
            if (!classMatches(pattern.substr(p + 1, close - p - 1), text[t]))
                return false;
            p = close + 1;
        } else {
            if (c != text[t])
                return false;
            ++p;
        }
        ++t;
    }
    return p == pattern.size() && t == text.size();
}

std::string normalisePattern(std::string_view pattern)
{
    return asciiUpper(pattern.substr(0, kPatternMaxLength));
}

}  // namespace

bool matchPattern(std::string_view pattern, std::string_view extension)
{
    return matchNormalised(normalisePattern(pattern), normaliseExtension(extension));
}

bool matchPatternList(std::string_view patterns, std::string_view extension)
{
    const std::string text = normaliseExtension(extension);
    while (true) {
        const size_t semicolon = patterns.find(';');
        if (matchNormalised(normalisePattern(patterns.substr(0, semicolon)), text))
            return true;
        if (semicolon == std::string_view::npos)
            return false;
        patterns.remove_prefix(semicolon + 1);
    }
}

std::string_view fileExtension(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : fileName.substr(dot);
}

}  // namespace fetchora

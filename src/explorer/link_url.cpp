#include "explorer/link_url.h"

#include <array>
#include <cctype>

namespace fetchora {

namespace {

// Schemes that make a link absolute, tried in this order.
constexpr std::array<std::string_view, 30> kAbsoluteSchemes = {
    "cid:",      "clsid:",  "file:",    "finger:",     "ftp:",   "gopher:", "hdl:",    "http:",   "https:", "ilu:",
    "ior:",      "irc:",    "java:",    "javascript:", "lifn:",  "mailto:", "mid:",    "news:",   "nntp:",  "path:",
    "prospero:", "rlogin:", "service:", "shttp:",      "snews:", "stanf:",  "telnet:", "tn3270:", "wais:",  "whois++:",
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The link without an optional "URL:" prefix and the blanks after it.
std::string_view withoutUrlPrefix(std::string_view link)
{
    if (startsWithNoCase(link, "URL:")) {
        link.remove_prefix(4);
        while (!link.empty() && isBlank(link.front()))
            link.remove_prefix(1);
    }
    return link;
}

bool slashStandsAlone(std::string_view text, size_t i)
{
    return text[i] == '/' && (i == 0 || text[i - 1] != '/') && (i + 1 == text.size() || text[i + 1] != '/');
}

}  // namespace

bool IsAbsoluteLink(std::string_view link)
{
    link = withoutUrlPrefix(link);
    // Every scheme ends in ":" within its first 11 characters.
    if (link.substr(0, 11).find(':') == std::string_view::npos)
        return false;
    for (std::string_view scheme : kAbsoluteSchemes) {
        if (startsWithNoCase(link, scheme))
            return true;
    }
    return false;
}

bool IsUsableBase(std::string_view base)
{
    const size_t colon = base.find(':');
    if (colon == std::string_view::npos || colon == 0 || base.substr(colon + 1, 2) != "//"
        || !std::isalpha(static_cast<unsigned char>(base[0])))
        return false;
    for (size_t i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(base[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return base.size() > colon + 3;
}

std::string ResolveLink(std::string_view base, std::string_view link)
{
    // A "/" inside the base's query ("page.cgi?u=/x/y") is no path separator.
    base = base.substr(0, base.find_first_of("?#"));
    size_t cut = std::string_view::npos;
    if (!link.empty() && link.front() == '/') {
        for (size_t i = 0; i < base.size(); ++i) {
            if (slashStandsAlone(base, i)) {
                cut = i;
                break;
            }
        }
        std::string result(base.substr(0, cut));
        result += link;
        return result;
    }
    for (size_t i = base.size(); i-- > 0;) {
        if (slashStandsAlone(base, i)) {
            cut = i;
            break;
        }
    }
    std::string result;
    if (cut == std::string_view::npos) {
        result.assign(base);
        result += '/';
    } else {
        result.assign(base.substr(0, cut + 1));
    }
    result += link;
    return result;
}

std::optional<std::string> LinkTarget(std::string_view link, std::string_view base)
{
    link = trimBlanks(link);
    if (link.empty() || link.size() > kMaxLinkLength || link.starts_with("\\\"\""))
        return std::nullopt;
    bool relative = !IsAbsoluteLink(link);
    if (!relative) {
        const std::string_view bare = withoutUrlPrefix(link);
        if (startsWithNoCase(bare, "http:") && !startsWithNoCase(bare, "http://")) {
            link = bare.substr(5);
            relative = true;
        } else if (startsWithNoCase(bare, "http://") || startsWithNoCase(bare, "ftp://")) {
            return std::string(bare);
        } else {
            return std::nullopt;
        }
    }
    if (link.empty() || !IsUsableBase(base) || base.size() > kMaxLinkLength)
        return std::nullopt;
    return ResolveLink(base, link);
}

}  // namespace fetchora

#include "explorer/link_url.h"

#include <array>
#include <cctype>

#include "platform/text_utils.h"

namespace fetchora {

namespace {

// Schemes that make a link absolute, tried in this order.
constexpr std::array<std::string_view, 30> kAbsoluteSchemes = {
    "cid:",      "clsid:",  "file:",    "finger:",     "ftp:",   "gopher:", "hdl:",    "http:",   "https:", "ilu:",
    "ior:",      "irc:",    "java:",    "javascript:", "lifn:",  "mailto:", "mid:",    "news:",   "nntp:",  "path:",
    "prospero:", "rlogin:", "service:", "shttp:",      "snews:", "stanf:",  "telnet:", "tn3270:", "wais:",  "whois++:",
};

// The link without an optional "URL:" prefix and the blanks after it.
std::string_view withoutUrlPrefix(std::string_view link)
{
    if (startsWithIgnoringCase(link, "URL:")) {
        link = trimLeft(link.substr(4), kWhiteSpace);
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
        if (startsWithIgnoringCase(link, scheme))
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
    link = trimBoth(link, kWhiteSpace);
    if (link.empty() || link.size() > kMaxLinkLength || link.starts_with("\\\"\""))
        return std::nullopt;
    bool relative = !IsAbsoluteLink(link);
    if (!relative) {
        const std::string_view bare = withoutUrlPrefix(link);
        if (startsWithIgnoringCase(bare, "http:") && !startsWithIgnoringCase(bare, "http://")) {
            link = bare.substr(5);
            relative = true;
        } else if (startsWithIgnoringCase(bare, "http://") || startsWithIgnoringCase(bare, "ftp://")) {
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

#include "shell/html_format.h"

#include <limits>
#include <optional>

#include "explorer/link_extractor.h"

namespace fetchora {
namespace {

constexpr int64_t kAbsent = -1;

bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// atol: blanks, an optional sign, digits; saturates instead of overflowing.
int64_t readLong(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

// The source URL runs to the end of its header line, and never into the HTML.
std::string sourceUrl(std::string_view data, size_t htmlStart)
{
    const size_t field = data.find("SourceURL:");
    if (field == std::string_view::npos || field >= htmlStart)
        return {};
    std::string_view rest = data.substr(field + 10, htmlStart - field - 10);
    rest = rest.substr(0, rest.find_first_of("\r\n"));
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    while (!rest.empty() && isBlank(rest.back()))
        rest.remove_suffix(1);
    return std::string(rest);
}

}  // namespace

int64_t HtmlFormatField(std::string_view data, std::string_view name)
{
    const size_t at = data.find(name);
    if (at == std::string_view::npos)
        return kAbsent;
    return readLong(data.substr(at + name.size()));
}

HtmlFormatLinks ReadHtmlFormat(std::string_view data)
{
    HtmlFormatLinks result;
    const int64_t start = HtmlFormatField(data, "StartHTML:");
    const int64_t end = HtmlFormatField(data, "EndHTML:");
    const auto size = static_cast<int64_t>(data.size());
    if (start < 0 || end < start || end > size)
        return result;

    std::optional<std::pair<int64_t, int64_t>> selection;
    const int64_t selStart = HtmlFormatField(data, "StartSelection:");
    const int64_t selEnd = HtmlFormatField(data, "EndSelection:");
    if (selStart != kAbsent && selEnd != kAbsent) {
        if (selStart < start || selEnd < selStart || selEnd > end)
            return result;
        selection = std::pair(selStart - start, selEnd - start);
    }

    const auto htmlStart = static_cast<size_t>(start);
    if (data.substr(0, htmlStart).find("Version:1.") != std::string_view::npos)
        result.baseUrl = sourceUrl(data, htmlStart);

    const std::string_view html = data.substr(htmlStart, static_cast<size_t>(end - start));
    for (ExtractedLink& link : ExtractLinks(html, result.baseUrl)) {
        const auto position = static_cast<int64_t>(link.offset);
        if (selection && (position < selection->first || position > selection->second))
            continue;
        result.links.push_back(CapturedLink{std::move(link.url), std::move(link.title), {}, link.offset});
    }
    return result;
}

}  // namespace fetchora

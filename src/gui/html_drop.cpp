#include "gui/html_drop.h"

#include <cstdio>

namespace fetchora {

namespace {

// Offsets are written with a fixed width, so that the header's length is
// known before the numbers are.
std::string field(const char* name, size_t value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%s:%010zu\r\n", name, value);
    return text;
}

}  // namespace

std::string HtmlFormatFromHtml(std::string_view html, std::string_view sourceUrl)
{
    const size_t cut = sourceUrl.find_first_of("\r\n");
    if (cut != std::string_view::npos)
        sourceUrl = sourceUrl.substr(0, cut);
    const std::string prefix = "<html><body>\r\n<!--StartFragment-->";
    const std::string suffix = "<!--EndFragment-->\r\n</body></html>";
    std::string source = "SourceURL:";
    source.append(sourceUrl);
    source += "\r\n";
    const std::string version = "Version:1.0\r\n";
    const size_t headerLength = version.size() + 4 * field("StartHTML", 0).size() + source.size();
    const size_t startHtml = headerLength;
    const size_t startFragment = startHtml + prefix.size();
    const size_t endFragment = startFragment + html.size();
    const size_t endHtml = endFragment + suffix.size();
    std::string out = version;
    out += field("StartHTML", startHtml);
    out += field("EndHTML", endHtml);
    out += field("StartFragment", startFragment);
    out += field("EndFragment", endFragment);
    out += source;
    out += prefix;
    out.append(html);
    out += suffix;
    return out;
}

}  // namespace fetchora

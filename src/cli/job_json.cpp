#include "cli/job_json.h"

#include "lang/display_text.h"
#include "model/download_job.h"

#include <cstdio>

namespace fetchora {

std::string jsonString(std::string_view bytes)
{
    std::string text = displayText(bytes);
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string jobJsonLine(const DownloadJob& node)
{
    std::string out = "{";
    bool first = true;
    auto field = [&](std::string_view name, const std::string& value) {
        if (!first)
            out += ',';
        first = false;
        out += '"';
        out += name;
        out += "\":";
        out += value;
    };
    auto number = [](auto value) { return std::to_string(value); };

    field("id", number(node.id));
    field("parentId", number(node.parent() ? node.parent()->id : node.parentId));
    field("isCategory", node.IsCategory() ? "true" : "false");
    field("kind", number(node.kind));
    field("name", jsonString(node.IsCategory() ? node.name : node.GetDisplayName()));
    field("url", jsonString(node.url));
    field("state", number(node.state & 0xFF));
    field("startMode", number(static_cast<uint32_t>(node.startMode)));
    field("fileSize", number(node.fileSize));
    field("completedBytes", number(node.completedBytes));
    std::string ranges = "[";
    for (size_t i = 0; i < node.completedRanges.size(); ++i) {
        if (i)
            ranges += ',';
        ranges += '[' + number(node.completedRanges[i].start) + ',' + number(node.completedRanges[i].end) + ']';
    }
    field("ranges", ranges + ']');
    field("saveFolder", jsonString(node.saveFolder));
    field("fileName", jsonString(node.fileName));
    field("formatFlags", number(node.formatFlags));
    field("optionFlags", number(node.optionFlags));
    field("splitCount", number(node.splitCount));
    field("categoryId", number(node.categoryId));
    field("comment", jsonString(node.comment()));
    field("referer", jsonString(node.referer));
    std::string alternates = "[";
    for (size_t i = 0; i < node.alternateUrls.size(); ++i) {
        if (i)
            alternates += ',';
        alternates += jsonString(node.alternateUrls[i].url);
    }
    field("alternateUrls", alternates + ']');
    return out + '}';
}

}  // namespace fetchora

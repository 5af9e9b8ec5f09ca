#include "explorer/small_file_links.h"

#include "explorer/link_extractor.h"
#include "model/download_job.h"
#include "platform/text_utils.h"

#include <array>
#include <fstream>

namespace fetchora {

namespace {

bool endsUrl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>';
}

// The earliest URL of one of the schemes in text, or empty.
std::string firstUrl(std::string_view text, std::string_view lowered, std::initializer_list<std::string_view> schemes)
{
    size_t best = std::string_view::npos;
    for (std::string_view scheme : schemes) {
        const size_t at = lowered.find(scheme);
        if (at < best)
            best = at;
    }
    if (best == std::string_view::npos)
        return {};
    size_t end = best;
    while (end < text.size() && !endsUrl(text[end]))
        ++end;
    return std::string(text.substr(best, end - best));
}

}  // namespace

std::string LinkSmallFileInspector::sameNameLink(const std::filesystem::path& file, const std::string& pageUrl,
                                                 const std::string& fileName)
{
    for (const ExtractedLink& link : ExtractLinksFromFile(file, pageUrl)) {
        if (link.url != pageUrl && DefaultNameFromUrl(link.url) == fileName)
            return link.url;
    }
    return {};
}

std::string LinkSmallFileInspector::playListMedia(const std::filesystem::path& file, const std::string&)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string text(kMaxPlayListBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    const std::string lowered = asciiLower(text);
    std::string url = firstUrl(text, lowered, {"rtsp://", "mms://", "mmst://"});
    if (url.empty())
        url = firstUrl(text, lowered, {"http://", "https://", "ftp://"});
    return url;
}

}  // namespace fetchora

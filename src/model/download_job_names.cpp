// Local file names: the default name a URL suggests, and making any name
// (from a URL, a server or a stored record) safe as one path component, so
// that no name can ever place a file outside the job's folder.
#include "model/download_job.h"

#include "net/url.h"

namespace fetchora {
namespace {

constexpr size_t kMaxNameBytes = 255;  // NAME_MAX on Linux file systems
constexpr size_t kMaxKeptExtension = 32;
constexpr std::string_view kIndexName = "index.htm";

bool isReserved(char ch)
{
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F || std::string_view("?*/\\<>\"|:").find(ch) != std::string_view::npos;
}

bool isUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Cuts a name to at most kMaxNameBytes, keeping a short extension and never
// splitting a UTF-8 sequence.
std::string shortenName(const std::string& name)
{
    std::string extension;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtension)
        extension = name.substr(dot);
    size_t keep = kMaxNameBytes - extension.size();
    while (keep > 0 && isUtf8Continuation(name[keep]))
        --keep;
    return name.substr(0, keep) + extension;
}

}  // namespace

std::string SanitizeFileName(std::string_view name)
{
    std::string out(name);
    for (char& c : out) {
        if (isReserved(c))
            c = '_';
    }
    if (out.empty())
        return std::string(kIndexName);
    if (out == ".")
        return "_";
    if (out == "..")
        return "__";
    if (out.size() > kMaxNameBytes)
        out = shortenName(out);
    return out;
}

std::string DefaultNameFromUrl(std::string_view urlText)
{
    const std::optional<UrlEntry> entry = ParseUrl(urlText);
    if (!entry)
        return {};
    std::string path = entry->object;
    if (path.find('%') != std::string::npos)
        path = PercentDecode(path);
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find_first_of("?*"));
    // A script URL such as "get/file.zip&session=1" names the file before the
    // "&"; FTP file names may really hold one.
    if (entry->service != ServiceCode::Ftp) {
        const size_t amp = name.find('&');
        if (amp != std::string::npos && amp > 0 && name.find('.') < amp)
            name.resize(amp);
    }
    // "http://host/?query" leaves nothing after the cut; it needs a name too.
    if (name.empty())
        name = kIndexName;
    if ((entry->service == ServiceCode::Mms || entry->service == ServiceCode::Mmst)
        && name.find('.') == std::string::npos)
        name += "_live.asf";
    return SanitizeFileName(name);
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string out(folder);
    if (!out.empty() && out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

}  // namespace fetchora

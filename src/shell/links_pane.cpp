#include "shell/links_pane.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <unordered_map>

#include "config/pattern_list.h"
#include "model/download_job.h"
#include "platform/text_utils.h"

namespace fetchora {

// The Windows code pages these menu entries stood for; CP932 and CP949 are
// the Windows supersets of Shift_JIS and EUC-KR, so they decode more pages.
const std::array<LinkEncoding, kLinkEncodingCount> kLinkEncodings{{
    {"UTF-8"},
    {"CP1257"},
    {"BIG5"},
    {"GBK"},
    {"CP1250"},
    {"CP1253"},
    {"CP1251"},
    {"CP932"},
    {"CP1254"},
    {"CP949"},
    {"CP1255"},
    {"CP1256"},
    {"CP874"},
}};

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// One iconv descriptor for one decode, closed on every path out.
class Converter {
public:
    explicit Converter(const char* from) : m_cd(iconv_open("UTF-8", from)) { }
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    std::string convert(std::string_view bytes)
    {
        std::string out;
        std::string buffer(std::max<size_t>(64, bytes.size() * 4), '\0');
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        while (inLeft > 0) {
            char* outPtr = buffer.data();
            size_t outLeft = buffer.size();
            const size_t result = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer.data(), buffer.size() - outLeft);
            if (result != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG)
                continue;
            // A byte the set does not know (or a sequence cut off at the
            // end): one replacement character, and the scan goes on after it.
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        return out;
    }

private:
    iconv_t m_cd;
};

// Without a converter at all, ASCII stays and every other byte is replaced.
std::string asciiOnly(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80)
            out += c;
        else
            out += kReplacement;
    }
    return out;
}

// Control characters and runs of blanks become one space: a title is one line.
std::string oneLine(std::string_view text)
{
    std::string out;
    bool blank = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ' ') {
            blank = true;
            continue;
        }
        if (blank && !out.empty())
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

}  // namespace

std::string decodeLinkTitle(std::string_view bytes, size_t encoding)
{
    if (encoding >= kLinkEncodings.size())
        encoding = 0;
    if (bytes.empty())
        return {};
    Converter converter(kLinkEncodings[encoding].charset.data());
    if (converter.ok())
        return oneLine(converter.convert(bytes));
    Converter utf8("UTF-8");
    return oneLine(utf8.ok() ? utf8.convert(bytes) : asciiOnly(bytes));
}

std::string linkType(std::string_view url)
{
    const size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) {
        url.remove_prefix(scheme + 3);
        const size_t path = url.find('/');
        url = path == std::string_view::npos ? std::string_view() : url.substr(path);
    }
    url = url.substr(0, url.find_first_of("?#"));
    const size_t slash = url.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

LinkPageSource linkPageSourceOf(const DownloadJob* job, std::string_view pageTypes)
{
    if (job == nullptr || job->IsCategory() || !job->IsComplete())
        return {};
    const std::string name = job->GetDisplayName();
    const std::string_view extension = fileExtension(name);
    if (!extension.empty() && !matchPatternList(pageTypes, extension))
        return {};
    return {job->url, std::filesystem::path(job->GetLocalPath())};
}

LinksPane::FileStamp LinksPane::stampOf(const std::filesystem::path& file)
{
    FileStamp stamp;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return stamp;
    stamp.size = std::filesystem::file_size(file, error);
    if (error)
        return {};
    stamp.time = std::filesystem::last_write_time(file, error);
    if (error)
        return {};
    stamp.exists = true;
    return stamp;
}

bool LinksPane::isCurrent(const LinkPageSource& source) const
{
    return m_read && source == m_source && (source.url.empty() ? FileStamp{} : stampOf(source.file)) == m_stamp;
}

bool LinksPane::show(const LinkPageSource& source)
{
    const FileStamp stamp = source.url.empty() ? FileStamp{} : stampOf(source.file);
    if (m_read && source == m_source && stamp == m_stamp)
        return false;
    m_read = true;
    m_source = source;
    m_stamp = stamp;
    m_links.clear();
    if (stamp.exists) {
        std::unordered_map<std::string, size_t> seen;
        for (ExtractedLink& link : ExtractLinksFromFile(source.file, source.url)) {
            const auto [at, fresh] = seen.emplace(link.url, m_links.size());
            if (fresh)
                m_links.push_back(std::move(link));
            else if (m_links[at->second].title.empty())
                m_links[at->second].title = std::move(link.title);
        }
    }
    rebuildRows();
    return true;
}

void LinksPane::clear()
{
    m_read = false;
    m_source = {};
    m_stamp = {};
    m_links.clear();
    m_rows.clear();
}

void LinksPane::setEncoding(size_t index)
{
    m_encoding = index < kLinkEncodings.size() ? index : 0;
    rebuildRows();
}

void LinksPane::setSortKey(LinkSortKey key)
{
    m_sortKey = key;
    rebuildRows();
}

void LinksPane::rebuildRows()
{
    m_rows.clear();
    m_rows.reserve(m_links.size());
    for (const ExtractedLink& link : m_links)
        m_rows.push_back({linkType(link.url), decodeLinkTitle(link.title, m_encoding), link.url});
    if (m_sortKey == LinkSortKey::PageOrder)
        return;
    auto keyOf = [this](const LinkRow& row) -> const std::string& {
        switch (m_sortKey) {
        case LinkSortKey::Type: return row.type;
        case LinkSortKey::Title: return row.title;
        default: return row.url;
        }
    };
    // Keys folded once; equal keys keep page order.
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
        keys.emplace_back(asciiLower(keyOf(m_rows[i])), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<LinkRow> sorted;
    sorted.reserve(m_rows.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(m_rows[key.second]));
    m_rows = std::move(sorted);
}

std::vector<LinkChoice> LinksPane::choices(std::span<const size_t> rowIndices) const
{
    std::vector<LinkChoice> out;
    for (const size_t i : rowIndices)
        if (i < m_rows.size())
            out.push_back({m_rows[i].url, m_rows[i].title});
    return out;
}

}  // namespace fetchora

#include "mirrors/mirror_search.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "config/settings_values.h"
#include "explorer/link_url.h"
#include "lang/string_table.h"
#include "mirrors/mirror_texts.h"
#include "net/http_transfer.h"
#include "net/net_texts.h"
#include "net/url.h"

namespace fetchora {

namespace {

inline constexpr uint32_t kMsgErrorOccurred = 61241;
inline constexpr uint32_t kMsgStartSearch = 61364;
inline constexpr uint32_t kMsgSearchFinished = 61365;

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void replaceAll(std::string& text, std::string_view what, std::string_view with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::string percentEncode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

bool endsWithLabel(std::string_view host, std::string_view domain)
{
    return host == domain
        || (host.size() > domain.size() && host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.');
}

// scheme://host[:port] of a parsed URL.
std::string origin(const UrlEntry& url)
{
    std::string out(ServicePrefix(url.service));
    out += url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    if (!IsDefaultPort(url.service, url.port))
        out += ":" + std::to_string(url.port);
    return out;
}

bool webUrl(const std::optional<UrlEntry>& url)
{
    return url && (url->service == ServiceCode::Http || url->service == ServiceCode::Https);
}

// The PartChannel the HTTP worker fetches the result page through: it keeps
// the body, answers every failure with "no retry", and forwards log lines.
class PageChannel final : public PartChannel {
public:
    explicit PageChannel(MirrorChannel& mirror) : m_mirror(mirror) { }

    bool alive() const override { return m_mirror.alive() && !m_ended; }
    int response(const ResponseInfo& info, ProtocolKind) override
    {
        if (info.outcome == ResponseOutcome::Redirect && !info.location.empty()) {
            m_location = info.location;
            m_ended = true;
            return 0;
        }
        if (info.outcome != ResponseOutcome::Success) {
            m_failure = info.cause.empty() ? std::string(builtinString(kStrMirrorSearchRefused)) : info.cause;
            m_ended = true;
            return 0;
        }
        return 1;
    }
    WriteResult data(int64_t position, std::span<const uint8_t> block) override
    {
        if (position != static_cast<int64_t>(m_body.size()))
            return WriteResult::Stop;
        const size_t room = kMaxSearchPageBytes - m_body.size();
        m_body.append(reinterpret_cast<const char*>(block.data()), std::min(room, block.size()));
        if (m_body.size() >= kMaxSearchPageBytes) {
            m_complete = true;
            m_ended = true;
            return WriteResult::Stop;
        }
        return WriteResult::Continue;
    }
    bool error(const PartFailure& failure) override
    {
        if (!m_complete)
            m_failure = failure.cause.empty() ? std::string(builtinString(kStrNetConnectionFailed)) : failure.cause;
        m_ended = true;
        return false;
    }
    void done() override { m_complete = true; }
    void resolved(const std::string&, bool) override { }
    int64_t rangeStart() const override { return m_ended || m_complete ? kNoRangeLeft : 0; }
    int64_t knownSize() const override { return -1; }
    void logLine(ConnectionLogKind kind, std::string_view text) override
    {
        if (kind == ConnectionLogKind::Error && text.starts_with(builtinString(kMsgErrorOccurred)))
            m_errorLogged = true;
        m_mirror.logLine(kind, text);
    }

    const std::string& body() const { return m_body; }
    bool complete() const { return m_complete; }
    const std::string& failure() const { return m_failure; }
    const std::string& location() const { return m_location; }
    // The connection steps logged "Error occured!" with the socket error.
    bool errorLogged() const { return m_errorLogged; }

private:
    MirrorChannel& m_mirror;
    std::string m_body;
    std::string m_failure;
    std::string m_location;
    bool m_complete = false;
    bool m_ended = false;
    bool m_errorLogged = false;
};

}  // namespace

bool isPlaceholderHost(std::string_view host)
{
    const std::string name = lower(host);
    for (std::string_view domain : {"example.com", "example.net", "example.org", "invalid", "example"}) {
        if (endsWithLabel(name, domain))
            return true;
    }
    return name.empty();
}

std::string BuildSearchUrl(const MirrorSearchOptions& options, std::string_view fileName, int64_t fileSize,
                           std::string* whyOff)
{
    const auto off = [whyOff](std::string reason) {
        if (whyOff)
            *whyOff = std::move(reason);
        return std::string();
    };
    std::string url = options.searchTemplate;
    std::optional<UrlEntry> parsed = ParseUrl(url);
    if (!webUrl(parsed)) {
        url = kDefaultMirrorSearchTemplate;
        parsed = ParseUrl(url);
    }
    if (!parsed || isPlaceholderHost(parsed->host))
        return off(std::string(builtinString(kStrMirrorSearchNoHost)));
    if (options.sharingService) {
        // The sharing service answers at the host the user set for the search.
        url = origin(*parsed)
            + std::string(options.simplifiedChinese ? kSharingServiceChinesePath : kSharingServicePath);
        if (options.today != options.checkDate)
            url += "&code=" + percentEncode(options.countryCode) + "&ver=" + std::string(kSharingServiceVersion);
    } else if (!options.ftpSearch) {
        return off(std::string(builtinString(kStrMirrorSearchSwitchedOff)));
    } else if (url.find("{filename}") == std::string::npos) {
        url += kSearchQueryTail;
    }
    replaceAll(url, "{maxhit}", std::to_string(options.maxHit));
    replaceAll(url, "{filename}", percentEncode(fileName));
    replaceAll(url, "{filesize}", std::to_string(fileSize));
    if (options.sharingService && options.shareUrls && options.jobUrl.find('?') == std::string::npos)
        url += "&url=" + percentEncode(options.jobUrl);
    return url;
}

std::string linkFileName(std::string_view url)
{
    const size_t end = url.find_first_of("?#");
    std::string_view path = url.substr(0, end);
    const size_t scheme = path.find("://");
    if (scheme != std::string_view::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    const size_t last = path.rfind('/');
    const std::string_view name = last == std::string_view::npos ? path : path.substr(last + 1);
    return PercentDecode(name);
}

std::vector<std::string> PickSearchResults(const std::vector<ExtractedLink>& links, std::string_view fileName,
                                           const MirrorCountries& countries)
{
    const std::string wanted = lower(fileName);
    std::vector<std::string> found;
    std::set<std::string> seen;
    const size_t count = std::min(links.size(), kMaxSearchLinks);
    for (size_t i = 0; i < count && !wanted.empty(); ++i) {
        const std::string& url = links[i].url;
        const std::optional<UrlEntry> parsed = ParseUrl(url);
        if (!parsed
            || (parsed->service != ServiceCode::Http && parsed->service != ServiceCode::Https
                && parsed->service != ServiceCode::Ftp))
            continue;
        if (lower(linkFileName(url)) != wanted || !seen.insert(url).second)
            continue;
        found.push_back(url);
    }
    return rankByCountry(std::move(found), countries);
}

int MirrorSearchProcedure(MirrorTask& task)
{
    if (!task.channel)
        return 0;
    MirrorChannel& channel = *task.channel;
    std::string whyOff;
    std::string url = BuildSearchUrl(task.search, task.fileName, task.fileSize, &whyOff);
    if (url.empty()) {
        channel.logLine(ConnectionLogKind::Status, whyOff);
        return 0;
    }
    channel.logLine(ConnectionLogKind::Status, builtinString(kMsgStartSearch));
    if (task.search.sharingService && task.search.today != task.search.checkDate)
        channel.dailyCodeSent(task.search.today);
    for (int redirects = 0; channel.alive(); ++redirects) {
        std::optional<UrlEntry> entry = ParseUrl(url);
        if (!webUrl(entry)) {
            channel.logLine(ConnectionLogKind::Error, std::string(builtinString(kMsgErrorOccurred)) + " " + url);
            return 0;
        }
        auto page = std::make_unique<PageChannel>(channel);
        PageChannel& result = *page;
        TransferTask fetch;
        fetch.channel = std::move(page);
        fetch.url = std::move(*entry);
        fetch.proxy = task.proxy;
        fetch.settings = task.settings;
        fetch.limiter = task.limiter;
        fetch.tls = task.tls;
        HttpTransfer(fetch);
        if (!result.location().empty() && redirects < kMaxSearchRedirects) {
            url = IsAbsoluteLink(result.location()) ? result.location() : ResolveLink(url, result.location());
            continue;
        }
        if (!result.complete()) {
            if (channel.alive() && !result.errorLogged()) {
                const std::string cause = result.failure().empty() ? std::string(builtinString(kStrMirrorSearchNoAnswer)) : result.failure();
                channel.logLine(ConnectionLogKind::Error, std::string(builtinString(kMsgErrorOccurred)) + " " + cause);
            }
            return 0;
        }
        const MirrorCountries countries{task.search.countryCode, task.search.countryList};
        const std::vector<std::string> found
            = PickSearchResults(ExtractLinks(result.body(), url), task.fileName, countries);
        if (!found.empty())
            channel.foundUrls(found);
        channel.logLine(ConnectionLogKind::Status,
                        fillPrintfFields(builtinString(kMsgSearchFinished), {std::to_string(found.size())}));
        return 0;
    }
    return 0;
}

}  // namespace fetchora

#include "net/cookie_jar.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>

#include "net/url_entry.h"
#include "platform/atomic_file.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
// A jar larger than this is not a cookie file anyone meant for us.
constexpr std::uintmax_t kMaxJarBytes = 16 * 1024 * 1024;

bool isTrue(std::string_view field)
{
    return asciiLower(field) == "true";
}

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
        if (tab == std::string_view::npos)
            return fields;
        at = tab + 1;
    }
}

bool hasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool domainMatches(const Cookie& cookie, std::string_view host)
{
    const std::string lowerHost = asciiLower(host);
    if (lowerHost == cookie.domain)
        return true;
    if (!cookie.includeSubdomains || lowerHost.size() <= cookie.domain.size())
        return false;
    return lowerHost.ends_with(cookie.domain) && lowerHost[lowerHost.size() - cookie.domain.size() - 1] == '.';
}

bool pathMatches(std::string_view cookiePath, std::string_view object)
{
    const std::string_view path = object.substr(0, object.find_first_of("?#"));
    if (!path.starts_with(cookiePath))
        return false;
    return path.size() == cookiePath.size() || cookiePath.ends_with('/') || path[cookiePath.size()] == '/';
}

}  // namespace

std::optional<Cookie> ParseCookieLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    Cookie cookie;
    if (line.starts_with(kHttpOnlyPrefix)) {
        cookie.httpOnly = true;
        line.remove_prefix(kHttpOnlyPrefix.size());
    } else if (line.empty() || line.front() == '#') {
        return std::nullopt;
    }
    const std::vector<std::string_view> fields = splitTabs(line);
    if (fields.size() != 7 || fields[0].empty() || fields[5].empty())
        return std::nullopt;
    if (std::any_of(fields.begin(), fields.end(), hasControl))
        return std::nullopt;
    std::string_view domain = fields[0];
    // A leading dot is the older way of saying "and its subdomains".
    if (domain.front() == '.')
        domain.remove_prefix(1);
    cookie.domain = asciiLower(domain);
    cookie.includeSubdomains = isTrue(fields[1]);
    cookie.path = fields[2].empty() ? "/" : std::string(fields[2]);
    cookie.secure = isTrue(fields[3]);
    int64_t expires = 0;
    const auto [end, error] = std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), expires);
    if (error != std::errc() || end != fields[4].data() + fields[4].size() || expires < 0)
        return std::nullopt;
    cookie.expires = expires;
    cookie.name = fields[5];
    cookie.value = fields[6];
    if (cookie.domain.empty())
        return std::nullopt;
    return cookie;
}

std::string FormatCookieLine(const Cookie& cookie)
{
    std::string line = cookie.httpOnly ? std::string(kHttpOnlyPrefix) : std::string();
    line += (cookie.includeSubdomains ? "." : "") + cookie.domain;
    line += cookie.includeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
    line += cookie.path;
    line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(cookie.expires) + "\t" + cookie.name + "\t" + cookie.value;
    return line;
}

bool CookieMatches(const Cookie& cookie, const UrlEntry& url, int64_t now)
{
    if (cookie.expires != 0 && cookie.expires <= now)
        return false;
    if (cookie.secure && url.service != ServiceCode::Https)
        return false;
    if (url.service != ServiceCode::Http && url.service != ServiceCode::Https)
        return false;
    return domainMatches(cookie, url.host) && pathMatches(cookie.path, url.object);
}

CookieJar::CookieJar(std::filesystem::path file) : m_file(std::move(file))
{
}

std::filesystem::path CookieJar::fileIn(const std::filesystem::path& profileFolder)
{
    return profileFolder / kCookieJarFileName;
}

void CookieJar::reloadIfChangedLocked() const
{
    if (m_changedHere)
        return;
    std::error_code error;
    const auto size = std::filesystem::file_size(m_file, error);
    if (error) {
        m_cookies.clear();
        m_loaded.reset();
        return;
    }
    const Signature now{std::filesystem::last_write_time(m_file, error), size};
    if (error || (m_loaded && *m_loaded == now))
        return;
    m_cookies.clear();
    m_loaded = now;
    if (size > kMaxJarBytes)
        return;
    std::ifstream in(m_file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (std::optional<Cookie> cookie = ParseCookieLine(line))
            m_cookies.push_back(std::move(*cookie));
    }
}

std::string CookieJar::cookieHeaderFor(const UrlEntry& url) const
{
    return cookieHeaderFor(url, static_cast<int64_t>(std::time(nullptr)));
}

std::string CookieJar::cookieHeaderFor(const UrlEntry& url, int64_t now) const
{
    std::vector<const Cookie*> matching;
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    for (const Cookie& cookie : m_cookies) {
        if (CookieMatches(cookie, url, now))
            matching.push_back(&cookie);
    }
    // The most specific path first, as browsers send them.
    std::stable_sort(matching.begin(), matching.end(),
                     [](const Cookie* a, const Cookie* b) { return a->path.size() > b->path.size(); });
    std::string header;
    for (const Cookie* cookie : matching) {
        if (!header.empty())
            header += "; ";
        header += cookie->name + "=" + cookie->value;
    }
    return header;
}

void CookieJar::add(const Cookie& cookie)
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    std::erase_if(m_cookies, [&](const Cookie& old) {
        return old.domain == cookie.domain && old.path == cookie.path && old.name == cookie.name;
    });
    m_cookies.push_back(cookie);
    m_changedHere = true;
}

std::vector<Cookie> CookieJar::cookies() const
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    return m_cookies;
}

bool CookieJar::save() const
{
    std::lock_guard lock(m_mutex);
    std::ostringstream out;
    out << "# Netscape HTTP Cookie File\n";
    for (const Cookie& cookie : m_cookies)
        out << FormatCookieLine(cookie) << "\n";
    if (!writeFileAtomically(m_file, out.str()))
        return false;
    std::error_code error;
    const auto size = std::filesystem::file_size(m_file, error);
    const auto time = std::filesystem::last_write_time(m_file, error);
    if (!error)
        m_loaded = Signature{time, size};
    m_changedHere = false;
    return true;
}

}  // namespace fetchora

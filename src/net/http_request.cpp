#include "net/http_request.h"

#include <array>

#include "config/proxy_entry.h"
#include "net/basic_credentials.h"
#include "net/connection_log.h"
#include "net/cookie_jar.h"
#include "net/http_tunnel.h"
#include "net/url.h"
#include "net/url_entry.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

// The fixed agent texts of choices 1 to 6. The last two end in two closing
// parentheses, as the browsers of the time sent them.
constexpr std::array<std::string_view, 7> kAgentTexts{
    "",
    "Fetchora",
    "Mozilla/2.0 (compatible; MSIE 3.02; Windows 95)",
    "Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)",
    "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)",
    "Mozilla/3.04 (Win98; I))",
    "Mozilla/4.05 [en] (Win98; I))",
};

constexpr std::string_view kAuthorization = "Authorization: ";

// A header value from outside the program's control: control characters
// (CR and LF above all) become blanks.
std::string headerValue(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = ' ';
    }
    return out;
}

bool isDirectProxy(const ProxyEntry* proxy)
{
    return proxy == nullptr || proxy->type == kProxyDirect;
}

// The Host header's value: the port is left out when it is the scheme's
// default (and always for an FTP URL sent to an HTTP proxy).
std::string hostValue(const UrlEntry& url)
{
    const bool web = url.service == ServiceCode::Http || url.service == ServiceCode::Https;
    if (!web || IsDefaultPort(url.service, url.port)) {
        if (url.host.find(':') != std::string::npos)
            return "[" + url.host + "]";
        return url.host;
    }
    return hostAndPort(url.host, url.port);
}

// A user name or password inside a URL: the characters that would end it
// early are escaped.
std::string escapeLogin(std::string_view text)
{
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == ':' || c == '@' || c == '/' || c == '?' || c == '#') {
            out.push_back('%');
            out.push_back(upperHexDigit(byte >> 4));
            out.push_back(upperHexDigit(byte));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The line as the log shows it: credentials are never written to a log.
std::string maskedLine(std::string_view line)
{
    if (line.substr(0, kAuthorization.size()) == kAuthorization) {
        const std::string_view value = line.substr(kAuthorization.size());
        const std::size_t blank = value.find(' ');
        const std::string_view scheme
            = blank == std::string_view::npos ? std::string_view{} : value.substr(0, blank + 1);
        return std::string(kAuthorization) + std::string(scheme) + "********";
    }
    // A session cookie is as good as a password.
    constexpr std::string_view kCookie = "Cookie: ";
    if (line.substr(0, kCookie.size()) == kCookie)
        return std::string(kCookie) + "********";
    return maskedRequestLine(line);
}

class RequestWriter {
public:
    RequestWriter(ConnectionLog* log, bool quiet) : m_log(log), m_quiet(quiet) { }

    void line(std::string text, bool alwaysLog = false, std::string_view logged = {})
    {
        if (m_log && (!m_quiet || alwaysLog))
            m_log->logLine(ConnectionLogKind::Sent, logged.empty() ? maskedLine(text) : std::string(logged));
        m_text += text;
        m_text += "\r\n";
    }

    std::string finish()
    {
        m_text += "\r\n";
        return std::move(m_text);
    }

private:
    ConnectionLog* m_log;
    bool m_quiet;
    std::string m_text;
};

}  // namespace

std::string_view UserAgentText(uint32_t choice, std::string_view userText)
{
    if (choice < kAgentTexts.size())
        return kAgentTexts[choice];
    return userText;
}

std::string AbsoluteRequestTarget(const UrlEntry& url)
{
    std::string target = CanonicalUrl(url).value_or(url.object);
    const std::string_view ftp = ServicePrefix(ServiceCode::Ftp);
    if (url.service == ServiceCode::Ftp && !url.userName.empty() && target.size() >= ftp.size())
        target.insert(ftp.size(), escapeLogin(url.userName) + ":" + escapeLogin(url.password) + "@");
    return target;
}

std::string BuildHttpRequest(const HttpRequestInput& input)
{
    const UrlEntry& url = *input.url;
    const HttpRequestOptions& options = input.options;
    RequestWriter out(input.log, input.quiet);

    if (!input.headersOnly) {
        if (input.viaHttpProxy) {
            const std::string target = AbsoluteRequestTarget(url);
            std::string logged;
            if (url.service == ServiceCode::Ftp && !url.userName.empty()) {
                UrlEntry withoutPassword = url;
                withoutPassword.password = "********";
                logged = "GET " + AbsoluteRequestTarget(withoutPassword) + " HTTP/1.1";
            }
            out.line("GET " + headerValue(target) + " HTTP/1.1", false, logged);
        } else {
            out.line("GET " + headerValue(url.object) + " HTTP/1.1");
        }
    }
    out.line("Host: " + headerValue(hostValue(url)));
    out.line("Accept: */*");
    if (!input.referer.empty() && options.sendReferer)
        out.line("Referer: " + headerValue(input.referer));
    if (options.sendCookies) {
        std::string cookie = url.cookie;
        if (cookie.empty() && input.cookies)
            cookie = input.cookies->cookieHeaderFor(url);
        if (!cookie.empty())
            out.line("Cookie: " + headerValue(cookie));
    }
    const uint32_t agentChoice = input.probe ? kUserAgentMsie5 : options.userAgentChoice;
    if (agentChoice != kUserAgentNone)
        out.line("User-Agent: " + headerValue(UserAgentText(agentChoice, options.userAgentText)));
    if (!input.probe && (input.rangeStart != 0 || options.alwaysRange))
        out.line("Range: bytes=" + std::to_string(input.rangeStart) + "-");
    const bool noCache
        = isDirectProxy(input.proxy) ? options.noCacheWithoutProxy : (input.proxy->flags & kProxyNoCache) != 0;
    if (noCache) {
        out.line("Pragma: no-cache");
        out.line("Cache-Control: no-cache");
    }
    // Only a proxy that reads the request gets its login here; a tunnel got
    // it in its handshake, and what runs inside the tunnel goes to the target.
    if (input.viaHttpProxy && input.proxy) {
        if (const std::string login = ProxyAuthorizationLine(*input.proxy); !login.empty())
            out.line(login);
    }
    if (!url.userName.empty() && !input.headersOnly)
        out.line(std::string(kAuthorization) + "Basic " + BasicCredentials(url.userName, url.password));
    out.line("Connection: close", true);
    return out.finish();
}

}  // namespace fetchora

#include "net/url.h"

#include <array>
#include <cctype>

#include "platform/text_utils.h"

namespace fetchora {
namespace {

struct ServiceInfo {
    ServiceCode code;
    std::string_view scheme;  // lower case, without "://"
    std::string_view prefix;
    uint16_t defaultPort;
    bool transferable;
};

constexpr std::array<ServiceInfo, 7> kServices{{
    {ServiceCode::Ftp, "ftp", "ftp://", 21, true},
    {ServiceCode::Http, "http", "http://", 80, true},
    {ServiceCode::Https, "https", "https://", 443, true},
    {ServiceCode::Mms, "mms", "mms://", 1755, true},
    {ServiceCode::Mmst, "mmst", "mmst://", 1755, true},
    {ServiceCode::Rtsp, "rtsp", "rtsp://", 554, true},
    {ServiceCode::Pnm, "pnm", "pnm://", 7070, false},
}};

const ServiceInfo* findService(ServiceCode code)
{
    for (const auto& info : kServices) {
        if (info.code == code)
            return &info;
    }
    return nullptr;
}

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// A host name or IPv4 text: anything printable except the characters that
// delimit or escape parts of a URL or could end a request line.
bool isValidHostName(std::string_view host)
{
    if (host.empty())
        return false;
    for (char ch : host) {
        const auto c = static_cast<unsigned char>(ch);
        if (isControl(c) || c == ' ')
            return false;
        if (std::string_view("<>\"\\^`{|}/?#@[]%:").find(ch) != std::string_view::npos)
            return false;
    }
    return true;
}

bool isValidIpv6Literal(std::string_view host)
{
    if (host.size() < 2 || host.find(':') == std::string_view::npos)
        return false;
    for (char c : host) {
        if (hexDigitValue(c) < 0 && c != ':' && c != '.')
            return false;
    }
    return true;
}

bool parsePort(std::string_view text, uint16_t& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The host as written in a URL: IPv6 literals in brackets.
std::string hostForText(const std::string& host)
{
    if (host.find(':') != std::string::npos)
        return "[" + host + "]";
    return host;
}

// Some old Chinese browsers hand over the full-width middle dot unescaped;
// escaping it keeps it intact through the request line.
std::string escapeMiddleDot(std::string_view text)
{
    const std::string_view dot("\xA1\xA4", 2);
    const size_t first = text.find(dot);
    if (first == std::string_view::npos || first == 0)
        return std::string(text);
    std::string out;
    size_t from = 0;
    for (size_t at = first; at != std::string_view::npos; at = text.find(dot, from)) {
        out.append(text.substr(from, at - from));
        out.append("%A1%A4");
        from = at + dot.size();
    }
    out.append(text.substr(from));
    return out;
}

}  // namespace

std::string_view ServicePrefix(ServiceCode service)
{
    const ServiceInfo* info = findService(service);
    return info ? info->prefix : std::string_view();
}

bool IsTransferable(ServiceCode service)
{
    const ServiceInfo* info = findService(service);
    return info && info->transferable;
}

bool IsStreamService(ServiceCode service)
{
    return service == ServiceCode::Mms || service == ServiceCode::Mmst || service == ServiceCode::Rtsp;
}

uint16_t DefaultPort(ServiceCode service)
{
    const ServiceInfo* info = findService(service);
    return info ? info->defaultPort : 0;
}

bool IsDefaultPort(ServiceCode service, uint16_t port)
{
    const ServiceInfo* info = findService(service);
    return info && info->defaultPort == port;
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexDigitValue(text[i + 1]);
            const int low = hexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<UrlEntry> ParseUrl(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin], kWhiteSpace))
        ++begin;
    size_t trailingBlanks = 0;
    while (end > begin && isBlank(text[end - 1], kWhiteSpace)) {
        if (text[end - 1] == ' ')
            ++trailingBlanks;
        --end;
    }
    const std::string trimmed = escapeMiddleDot(text.substr(begin, end - begin));
    for (char c : trimmed) {
        if (isControl(static_cast<unsigned char>(c)))
            return std::nullopt;
    }

    const size_t schemeEnd = trimmed.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0)
        return std::nullopt;
    const std::string scheme = asciiLower(std::string_view(trimmed).substr(0, schemeEnd));
    const ServiceInfo* service = nullptr;
    for (const auto& info : kServices) {
        if (info.scheme == scheme)
            service = &info;
    }
    if (!service)
        return std::nullopt;

    UrlEntry entry;
    entry.service = service->code;

    const std::string_view rest = std::string_view(trimmed).substr(schemeEnd + 3);
    const size_t authorityEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view object = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

    // The host is what follows the last "@", so a password may itself hold "@".
    std::string_view hostPort = authority;
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const size_t colon = userInfo.find(':');
        entry.userName = PercentDecode(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            entry.password = PercentDecode(userInfo.substr(colon + 1));
    }

    std::string_view portText;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view literal = hostPort.substr(1, close - 1);
        if (!isValidIpv6Literal(literal))
            return std::nullopt;
        entry.host = std::string(literal);
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = hostPort.rfind(':');
        if (colon != std::string_view::npos) {
            portText = hostPort.substr(colon + 1);
            hostPort = hostPort.substr(0, colon);
        }
        if (!isValidHostName(hostPort))
            return std::nullopt;
        entry.host = std::string(hostPort);
    }
    entry.port = service->defaultPort;
    if (!portText.empty() && !parsePort(portText, entry.port))
        return std::nullopt;

    if (service->code == ServiceCode::Http || service->code == ServiceCode::Https)
        object = object.substr(0, object.find('#'));
    if (object.empty() || object.front() != '/')
        entry.object = "/";
    entry.object.append(object);
    // A request line cannot carry a raw blank.
    std::string encoded;
    encoded.reserve(entry.object.size());
    for (char c : entry.object) {
        if (c == ' ')
            encoded.append("%20");
        else
            encoded.push_back(c);
    }
    entry.object = std::move(encoded);
    if (service->code == ServiceCode::Ftp) {
        for (size_t i = 0; i < trailingBlanks; ++i)
            entry.object.append("%20");
    }
    return entry;
}

std::optional<std::string> CanonicalUrl(const UrlEntry& entry)
{
    if (!IsTransferable(entry.service))
        return std::nullopt;
    std::string out(ServicePrefix(entry.service));
    out.append(hostForText(asciiLower(entry.host)));
    if (!IsDefaultPort(entry.service, entry.port))
        out.append(":").append(std::to_string(entry.port));
    out.append(entry.object);
    return out;
}

std::string UrlWithoutLogin(const UrlEntry& entry)
{
    std::string out(ServicePrefix(entry.service));
    out.append(hostForText(entry.host));
    if (!IsDefaultPort(entry.service, entry.port))
        out.append(":").append(std::to_string(entry.port));
    out.append(entry.object);
    return out;
}

}  // namespace fetchora

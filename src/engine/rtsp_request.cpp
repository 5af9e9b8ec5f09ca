#include "engine/rtsp_request.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "net/basic_credentials.h"

namespace fetchora {

namespace {

constexpr std::string_view kUserAgent = "RealMedia Player Version 6.0.9.1235 (linux-2.0-libc6-i386-gcc2.95)";
constexpr std::string_view kClientChallenge = "3c5f0a9e7b21d4c86e0f1a2b9d7c4e53";
constexpr std::string_view kCompanyId = "Xp7LQ2vT9kWm4RsNd8ZcAg==";
constexpr std::string_view kPlayerGuid = "5f3a9c21-7d4e-4b8a-9e6f-1c2d3e4f5a6b";
constexpr std::string_view kDigestGuid = "7c1e4a90-2b3d-4f5e-8a6b-9c0d1e2f3a4b";

std::string md5Hex(std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1)
        return {};
    std::string out;
    char pair[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        out += pair;
    }
    return out;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A quoted parameter of an authentication challenge: name="value".
std::optional<std::string> parameter(std::string_view value, std::string_view name)
{
    const std::string lowered = lower(value);
    const std::string key = lower(name) + "=\"";
    const auto at = lowered.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const auto start = at + key.size();
    const auto end = value.find('"', start);
    if (end == std::string_view::npos)
        return std::nullopt;
    return std::string(value.substr(start, end - start));
}

}  // namespace

std::string BuildRtspRequest(const RtspRequestInput& in)
{
    std::string out;
    const auto line = [&](std::string_view text) {
        out.append(text);
        out.append("\r\n");
    };
    const std::string cseq = "CSeq: " + std::to_string(in.cseq);
    const bool windows = in.server == RtspServerKind::WindowsMedia;
    switch (in.kind) {
    case RtspRequestKind::Options:
        line("OPTIONS rtsp://" + in.host + ":" + std::to_string(in.port) + " RTSP/1.0");
        line(cseq);
        line("User-Agent: " + std::string(kUserAgent));
        line("ClientChallenge: " + std::string(kClientChallenge));
        line("PlayerStarttime: [28/03/2003:22:50:23 00:00]");
        line("CompanyID: " + std::string(kCompanyId));
        line("GUID: " + std::string(kPlayerGuid));
        line("RegionData: 0");
        line("ClientID: Linux_2.4_6.0.9.1235_play32_RN01_EN_586");
        line("Pragma: initiate-session");
        break;
    case RtspRequestKind::Describe:
    case RtspRequestKind::DescribeNtlmNegotiate:
    case RtspRequestKind::DescribeNtlmAuthenticate:
    case RtspRequestKind::DescribeAuthorized:
        line("DESCRIBE " + in.url + " RTSP/1.0");
        line(cseq);
        if (windows) {
            line("X-Accept-Authentication: NTLM, Basic");
        } else {
            if (!in.user.empty() && in.kind == RtspRequestKind::Describe)
                line("Authorization: Basic " + BasicCredentials(in.user, in.password));
            line("Accept: application/sdp");
            if (!in.session.empty())
                line("Session: " + in.session);
            line("Bandwidth: 10485800");
            line("SupportsMaximumASMBandwidth: 1");
            line("GUID: " + std::string(kPlayerGuid));
            line("Require: com.real.retain-entity-for-setup");
        }
        if (in.kind == RtspRequestKind::DescribeNtlmNegotiate || in.kind == RtspRequestKind::DescribeNtlmAuthenticate)
            line("Authorization: NTLM " + in.authorization);
        else if (in.kind == RtspRequestKind::DescribeAuthorized)
            line("Authorization: " + in.authorization);
        break;
    case RtspRequestKind::FirstSetup:
    case RtspRequestKind::SecondSetup:
        line("SETUP " + in.contentBase + "/" + in.control + " RTSP/1.0");
        line(cseq);
        if (in.kind == RtspRequestKind::SecondSetup) {
            if (!in.etag.empty() && in.session.empty())
                line("If-Match: " + in.etag);
            else
                line("Session: " + in.session);
        }
        if (windows) {
            line(in.kind == RtspRequestKind::FirstSetup ? "Transport: RTP/AVP/TCP;unicast;interleaved=0-1;mode=PLAY"
                                                        : "Transport: RTP/AVP/TCP;unicast;interleaved=2-3;mode=PLAY");
        } else {
            if (in.kind == RtspRequestKind::FirstSetup && !in.realChallenge2.empty())
                line("RealChallenge2: " + in.realChallenge2 + ", sd=" + in.checkText);
            line("Transport: x-pn-tng/tcp;mode=play");
        }
        break;
    case RtspRequestKind::SetParameter:
        line("SET_PARAMETER " + in.url + " RTSP/1.0");
        line(cseq);
        line("Subscribe: " + in.subscribe);
        line("Session: " + in.session);
        break;
    case RtspRequestKind::Play:
        line("PLAY " + in.url + " RTSP/1.0");
        line(cseq);
        line("Session: " + in.session);
        if (in.startMilliseconds > 0) {
            char range[48];
            std::snprintf(range, sizeof range, "Range: npt=%lld.%03lld-",
                          static_cast<long long>(in.startMilliseconds / 1000),
                          static_cast<long long>(in.startMilliseconds % 1000));
            line(range);
        }
        break;
    }
    line("");
    return out;
}

std::string Rn5Response(std::string_view user, std::string_view realm, std::string_view password,
                        std::string_view nonce, std::string_view url)
{
    const std::string ha1
        = md5Hex(std::string(user) + ":" + std::string(realm) + ":" + std::string(password) + ":" + std::string(nonce));
    const std::string a2 = md5Hex("DESCRIPE:" + std::string(url));
    return md5Hex(ha1 + ":" + std::string(nonce) + ":" + a2);
}

std::string Rn5Authorization(std::string_view user, std::string_view realm, std::string_view nonce,
                             std::string_view response)
{
    return "RN5 username=\"" + std::string(user) + "\", GUID=\"" + std::string(kDigestGuid) + "\",realm=\""
        + std::string(realm) + "\",nonce=\"" + std::string(nonce) + "\",responce=\"" + std::string(response) + "\"";
}

std::optional<Rn5Challenge> ReadRn5Challenge(std::string_view value)
{
    if (lower(trim(value)).rfind("rn5", 0) != 0)
        return std::nullopt;
    const std::optional<std::string> realm = parameter(value, "realm");
    const std::optional<std::string> nonce = parameter(value, "nonce");
    if (!realm || !nonce)
        return std::nullopt;
    return Rn5Challenge{*realm, *nonce};
}

const std::string* RtspHead::header(std::string_view name) const
{
    const auto found = headers.find(lower(name));
    return found == headers.end() ? nullptr : &found->second;
}

int64_t RtspHead::contentLength() const
{
    const std::string* text = header("Content-Length");
    if (!text)
        return 0;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    (void)end;
    return error == std::errc() && value > 0 ? value : 0;
}

uint32_t RtspHead::cseq() const
{
    const std::string* text = header("CSeq");
    uint32_t value = 0;
    if (text)
        std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

std::optional<RtspHead> ParseRtspHead(std::string_view head)
{
    RtspHead out;
    bool first = true;
    while (!head.empty()) {
        const auto end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
        line = trim(line);
        if (first) {
            first = false;
            if (line.rfind("RTSP/", 0) == 0) {
                out.answer = true;
                const auto space = line.find(' ');
                if (space == std::string_view::npos)
                    return std::nullopt;
                std::string_view code = trim(line.substr(space + 1));
                const auto [ptr, error] = std::from_chars(code.data(), code.data() + code.size(), out.status);
                (void)ptr;
                if (error != std::errc())
                    return std::nullopt;
            } else {
                const auto space = line.find(' ');
                if (space == std::string_view::npos || space == 0)
                    return std::nullopt;
                out.method = std::string(line.substr(0, space));
            }
            continue;
        }
        if (line.empty())
            break;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        out.headers.emplace(lower(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
    }
    if (first)
        return std::nullopt;
    return out;
}

std::string RtspRefusal(uint32_t cseq)
{
    return "RTSP/1.0 451 Parameter Not Understood\r\nCSeq: " + std::to_string(cseq) + "\r\n\r\n";
}

bool IsWindowsMediaHost(std::string_view host)
{
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(kWindowsMediaHostDomain) != std::string::npos;
}

RtspServerKind RtspServerKindOf(const std::string* serverHeader, std::string_view host)
{
    if (serverHeader)
        return serverHeader->find("WMServer") != std::string::npos ? RtspServerKind::WindowsMedia
                                                                   : RtspServerKind::RealMedia;
    return IsWindowsMediaHost(host) ? RtspServerKind::WindowsMedia : RtspServerKind::RealMedia;
}

}  // namespace fetchora

#pragma once
// The requests the RTSP worker sends (RTSP 1.0 over one TCP connection, the
// client presenting itself as a RealMedia player), the RN5 digest answer of
// RealMedia servers, and the head of a server's answer.
//
// Thread: any; pure functions.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

enum class RtspServerKind { RealMedia, WindowsMedia };

// The domain of Windows Media servers that do not name themselves.
inline constexpr std::string_view kWindowsMediaHostDomain = "windowsmedia.";

// Whether the lower-cased host name contains kWindowsMediaHostDomain.
bool IsWindowsMediaHost(std::string_view host);

// The server kind from the OPTIONS answer: "WMServer" in its Server header
// means Windows Media, any other Server header RealMedia. An answer without
// one comes from a server that hides what it is: Windows Media when the host
// is in the Windows Media domain, else RealMedia.
RtspServerKind RtspServerKindOf(const std::string* serverHeader, std::string_view host);

enum class RtspRequestKind : int {
    Options = 1,
    Describe = 2,
    FirstSetup = 3,
    SecondSetup = 4,
    Play = 5,
    SetParameter = 6,
    DescribeNtlmNegotiate = 7,
    DescribeNtlmAuthenticate = 8,
    DescribeAuthorized = 9,
};

struct RtspRequestInput {
    RtspRequestKind kind = RtspRequestKind::Options;
    RtspServerKind server = RtspServerKind::RealMedia;
    std::string url;  // the stream's URL as sent in DESCRIBE and PLAY
    std::string host;
    uint16_t port = 554;
    uint32_t cseq = 1;
    std::string user;
    std::string password;
    std::string session;
    std::string etag;
    std::string contentBase;  // SETUP: "%s/%s" of this and control
    std::string control;
    std::string realChallenge2;  // RealMedia SETUP
    std::string checkText;
    std::string subscribe;  // SET_PARAMETER
    std::string authorization;  // 7, 8: the NTLM message (Base64); 9: the whole value
    int64_t startMilliseconds = 0;  // PLAY: > 0 sends a Range
};

// The request text; every line ends in CR LF and an empty line ends it.
std::string BuildRtspRequest(const RtspRequestInput& input);

// The RN5 digest: HA1 = MD5 hex of user:realm:password:nonce, A2 = MD5 hex
// of "DESCRIPE:" + URL, the response = MD5 hex of HA1:nonce:A2 (lower case).
std::string Rn5Response(std::string_view user, std::string_view realm, std::string_view password,
                        std::string_view nonce, std::string_view url);
// The prepared Authorization value of DESCRIBE 9.
std::string Rn5Authorization(std::string_view user, std::string_view realm, std::string_view nonce,
                             std::string_view response);
// realm and nonce of a "WWW-Authenticate: RN5 realm=\"..\", nonce=\"..\"" value.
struct Rn5Challenge {
    std::string realm;
    std::string nonce;
};
std::optional<Rn5Challenge> ReadRn5Challenge(std::string_view value);

// The head of an answer or of a request from the server. Header names are
// kept lower-cased; a repeated header keeps its first value.
struct RtspHead {
    bool answer = false;  // "RTSP/..." status line; otherwise a request
    int status = 0;
    std::string method;  // a request's method
    std::map<std::string, std::string> headers;

    const std::string* header(std::string_view name) const;
    // Content-Length, 0 when absent or not a number.
    int64_t contentLength() const;
    uint32_t cseq() const;
};
std::optional<RtspHead> ParseRtspHead(std::string_view head);

// The answer to a request from the server: 451 with its sequence number.
std::string RtspRefusal(uint32_t cseq);

}  // namespace fetchora

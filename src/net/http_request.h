#pragma once
// The GET request of the HTTP worker (and of the mirror check): the request
// line and the header lines in their fixed order, each ending in CR LF, then
// the empty line.
//
// Thread: any; reads the cookie jar (which locks itself) and writes to the
// given log.
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora {

class ConnectionLog;
class CookieJar;
struct ProxyEntry;
struct UrlEntry;

// The "User-Agent" choices: an index into the list "None,Fetchora,Internet
// Explorer 3.x,...,User Define".
inline constexpr uint32_t kUserAgentNone = 0;
inline constexpr uint32_t kUserAgentMsie5 = 4;
// Any choice above the fixed texts sends the user's own text.
inline constexpr uint32_t kUserAgentUserDefined = 7;

// The agent text of a choice; empty for choice 0 (no line at all).
std::string_view UserAgentText(uint32_t choice, std::string_view userText);

// What the request builder reads from the settings.
struct HttpRequestOptions {
    uint32_t userAgentChoice = kUserAgentMsie5;  // "User-Agent" bits 0..7
    std::string userAgentText;  // "User-Agent Text"
    bool sendReferer = true;  // "User-Agent" bit 8 clear
    bool sendCookies = true;  // "Flags1" 0x2
    bool alwaysRange = false;  // "General" "AlwaysRange" above 0
    bool noCacheWithoutProxy = false;  // proxy entry 0 carries the no-cache flag
};

struct HttpRequestInput {
    const UrlEntry* url = nullptr;  // what is fetched; required
    std::string_view referer;  // the job's referer
    int64_t rangeStart = 0;
    // The proxy in use; null or type 0 for a direct connection.
    const ProxyEntry* proxy = nullptr;
    // A URL other than the part's own (a mirror check): no Range line and
    // always the MSIE 5.00 agent text.
    bool probe = false;
    bool quiet = false;  // log only "Connection: close"
    bool headersOnly = false;  // no request line and no Authorization line
    // The request goes to a plain HTTP proxy that wants the absolute URL (and
    // its own login line). False for tunnels and for TLS inside a tunnel.
    bool viaHttpProxy = false;
    HttpRequestOptions options;
    const CookieJar* cookies = nullptr;  // the cookie store; null: none
    ConnectionLog* log = nullptr;  // where sent lines are logged; null: nowhere
};

// The request text. Values taken from the job or the settings lose any CR,
// LF or other control character, so that no text can add a header line.
std::string BuildHttpRequest(const HttpRequestInput& input);

// The request line's target through a plain HTTP proxy: the absolute URL,
// with "user:password@" after "ftp://" for an FTP URL that has a user.
std::string AbsoluteRequestTarget(const UrlEntry& url);

}  // namespace fetchora

#pragma once
// One parsed URL of a job: the main URL first, then its alternate URLs.
//
// Thread: built and changed on the loop thread under the job lock; transfer
// threads read the fields they need while holding the lock and copy them.
// Owns its strings; borrows the per-site connection-limit record.
#include <cstdint>
#include <string>

namespace fetchora {

// Service codes of URLs. The numbers are stored in jobs and compared
// everywhere, so they are fixed: the first three are the classic URL-service
// codes, the rest are ours.
enum class ServiceCode : uint32_t {
    None = 0,
    Ftp = 1,
    Http = 3,
    Https = 4107,
    Mms = 4146,
    Mmst = 4147,
    Rtsp = 4149,
    Pnm = 4150,  // recognised, refused as a job URL
};

// The per-site connection-limit record set by an FTP welcome hint; owned by
// the application's site table.
struct SiteConnectionLimit;

struct UrlEntry {
    ServiceCode service = ServiceCode::None;
    std::string host;  // without brackets for an IPv6 literal ("::1")
    uint16_t port = 0;  // always filled: the service's default when the text had none
    std::string object;  // path with query, as sent in a request line; at least "/"
    std::string userName;
    std::string password;
    std::string referer;
    std::string cookie;  // from a redirect's Set-Cookie
    std::string resolvedAddress;  // empty until the first successful look-up
    SiteConnectionLimit* siteLimit = nullptr;
    int32_t pingTime = -1;  // milliseconds; -1 = not pinged or no answer
    // What an FTP server's REST probe showed: 0 not probed, 1 it can resume,
    // 2 it cannot.
    uint16_t resumeProbe = 0;
    bool loginFailed = false;  // the server refused the login
    // An FTP server let a connection in on the user name alone (230 to USER).
    bool loginByUserAlone = false;
};

}  // namespace fetchora

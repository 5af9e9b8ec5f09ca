#pragma once
// The messages of our browser extension, and how each becomes a click
// catcher hand-over for the running program.
//
// From the browser (JSON objects; unknown members are ignored):
//   {"type": "ping"}
//   {"type": "download", "url": U, "referrer": R, "always": false,
//    "captured": false, "fileName": N, "userAgent": A}
//    "cookies": [{"name", "value", "domain", "path", "secure", "httpOnly",
//                 "hostOnly", "expirationDate"}, ...]   (also on "links")
// The cookies are the browser's for the URL(s); they go to the profile's
// cookie jar, so that the program's requests carry the page's session.
// "captured": the browser started this download itself; it is handed over
// only when its file name (N, else the URL's last segment) is of a type the
// program's settings capture ("MonitorType").
//   {"type": "links", "pageUrl": P, "userAgent": A,
//    "links": [{"url": U, "text": T, "fileName": N}, ...]}
// A: the browser's user agent, which the job's requests then send; N: the
// name the browser suggests (a link's "download" attribute, the browser's
// own download's path), of which only the last path component is passed on.
// Every message may carry "id" (a string or a number), which the reply
// repeats so that the extension can match them.
// To the browser:
//   {"id": .., "ok": true, "taken": true|false, "closing": false}
//   {"id": .., "ok": true, "running": true|false, "host": "0.1.0"}      (ping)
//   {"id": .., "ok": false, "error": "what went wrong"}
// "taken": false means the browser should go ahead with the download itself.
//
// Thread: pure; any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/cookie_jar.h"
#include "shell/captured_link.h"

namespace fetchora {

struct BrowserRequest {
    enum class Kind { Ping, Download, Links };
    Kind kind = Kind::Ping;
    std::string id;  // the message's "id" as JSON text ("null" when none)
    std::string url;
    std::string referrer;
    bool always = false;  // take the URL without the refused-URL rule
    bool captured = false;  // a download the browser started, checked against the captured types
    std::string fileName;  // the browser's suggested name
    std::string userAgent;  // the browser's; empty when not given or too long
    std::string pageUrl;
    std::vector<CapturedLink> links;
    std::vector<Cookie> cookies;  // only those fit for a cookie jar line
};

// At most this many cookies are taken from one message.
inline constexpr size_t kMaxCookiesPerMessage = 200;

struct ParsedBrowserRequest {
    std::optional<BrowserRequest> request;
    std::string id = "null";  // also set when the request is refused
    std::string error;  // why there is no request
};

ParsedBrowserRequest ParseBrowserRequest(std::string_view json);

// The hand-over for a download or a list: either an item for the service
// socket ("<code> <base64>"), or, for a list too large for one item, a file
// code whose data goes to the program's "kxcatch.tmp" first.
struct CatcherHandOver {
    std::string item;
    std::string fileData;  // non-empty: write it to "kxcatch.tmp" before sending item
    std::string error;  // why nothing can be handed over
};

// itemLimit: the largest item the service socket takes. browserLayout: the
// item is for kTopicBrowserCatch and carries the user agent and file names;
// otherwise it is a plain click-catcher hand-over (for older programs).
CatcherHandOver MakeCatcherHandOver(const BrowserRequest& request, size_t itemLimit, bool browserLayout = false);

// The name whose type decides whether a captured download is taken.
std::string CapturedFileName(const BrowserRequest& request);

// The replies, as compact JSON.
std::string CatchReplyJson(const std::string& id, bool taken, bool closing);
std::string PingReplyJson(const std::string& id, bool running, std::string_view hostVersion);
std::string ErrorReplyJson(const std::string& id, std::string_view error);

}  // namespace fetchora

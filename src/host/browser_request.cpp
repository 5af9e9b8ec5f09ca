#include "host/browser_request.h"

#include <nlohmann/json.hpp>

#include "net/base64_codec.h"
#include "net/url.h"
#include "shell/click_catcher.h"

namespace fetchora {
namespace {

using nlohmann::json;

// A string member, or empty; false when it is there but not a string.
bool readString(const json& object, const char* name, std::string& out)
{
    const auto found = object.find(name);
    if (found == object.end() || found->is_null())
        return true;
    if (!found->is_string())
        return false;
    out = found->get<std::string>();
    return true;
}

// Only what the program downloads is handed on; the browser may send anything.
bool isDownloadable(const std::string& url)
{
    const std::optional<UrlEntry> entry = ParseUrl(url);
    return entry && IsTransferable(entry->service) && !entry->host.empty();
}

std::string hexCode(CatchCode code)
{
    static const char digits[] = "0123456789abcdef";
    const auto value = static_cast<uint32_t>(code);
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

std::string itemFor(CatchCode code, std::string_view data)
{
    return hexCode(code) + " " + Base64Codec().encode(data);
}

// A jar line is tab-separated and a header value ends at a line break: a
// name or value with control characters is not taken.
bool jarSafe(const std::string& text, bool name)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ';' || (name && (c == '=' || c == ' ')))
            return false;
    }
    return true;
}

// The last component of a path a browser suggests; the program makes it safe.
std::string lastPathComponent(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::vector<Cookie> readCookies(const json& message)
{
    std::vector<Cookie> cookies;
    const auto list = message.find("cookies");
    if (list == message.end() || !list->is_array())
        return cookies;
    for (const json& item : *list) {
        if (cookies.size() >= kMaxCookiesPerMessage)
            break;
        if (!item.is_object())
            continue;
        Cookie cookie;
        if (!readString(item, "name", cookie.name) || !readString(item, "value", cookie.value)
            || !readString(item, "domain", cookie.domain) || !readString(item, "path", cookie.path))
            continue;
        const auto flag = [&item](const char* name) {
            const auto found = item.find(name);
            return found != item.end() && found->is_boolean() && found->get<bool>();
        };
        // ".example.org" (or hostOnly false) is the domain and its subdomains.
        cookie.includeSubdomains = !flag("hostOnly") || cookie.domain.starts_with('.');
        while (cookie.domain.starts_with('.'))
            cookie.domain.erase(0, 1);
        if (cookie.path.empty())
            cookie.path = "/";
        cookie.secure = flag("secure");
        cookie.httpOnly = flag("httpOnly");
        if (const auto expires = item.find("expirationDate"); expires != item.end() && expires->is_number()) {
            const double seconds = expires->get<double>();
            cookie.expires = seconds > 0 && seconds < 1e11 ? static_cast<int64_t>(seconds) : 0;
        }
        if (cookie.name.empty() || cookie.domain.empty() || cookie.path[0] != '/' || !jarSafe(cookie.name, true)
            || !jarSafe(cookie.value, false) || !jarSafe(cookie.domain, true) || !jarSafe(cookie.path, false))
            continue;
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

}  // namespace

ParsedBrowserRequest ParseBrowserRequest(std::string_view text)
{
    ParsedBrowserRequest parsed;
    const json message = json::parse(text.begin(), text.end(), nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
        parsed.error = "the message is not a JSON object";
        return parsed;
    }
    if (const auto id = message.find("id"); id != message.end() && (id->is_string() || id->is_number_integer()))
        parsed.id = id->dump();
    BrowserRequest request;
    request.id = parsed.id;
    if (!readString(message, "userAgent", request.userAgent) || request.userAgent.size() > kMaxUserAgentBytes)
        request.userAgent.clear();
    std::string type;
    if (!readString(message, "type", type) || type.empty()) {
        parsed.error = "the message has no \"type\"";
        return parsed;
    }
    if (type == "ping") {
        request.kind = BrowserRequest::Kind::Ping;
    } else if (type == "download") {
        request.kind = BrowserRequest::Kind::Download;
        if (!readString(message, "url", request.url) || !readString(message, "referrer", request.referrer)) {
            parsed.error = "\"url\" and \"referrer\" must be strings";
            return parsed;
        }
        if (!isDownloadable(request.url)) {
            parsed.error = "not a URL Fetchora downloads: only http, https and ftp URLs are taken";
            return parsed;
        }
        if (!request.referrer.empty() && !isDownloadable(request.referrer))
            request.referrer.clear();
        const auto flag = [&message](const char* name) {
            const auto found = message.find(name);
            return found != message.end() && found->is_boolean() && found->get<bool>();
        };
        request.always = flag("always");
        request.captured = flag("captured");
        if (!readString(message, "fileName", request.fileName) || request.fileName.size() > kMaxSuggestedNameBytes)
            request.fileName.clear();
    } else if (type == "links") {
        request.kind = BrowserRequest::Kind::Links;
        if (!readString(message, "pageUrl", request.pageUrl)) {
            parsed.error = "\"pageUrl\" must be a string";
            return parsed;
        }
        const auto links = message.find("links");
        if (links == message.end() || !links->is_array()) {
            parsed.error = "\"links\" must be a list";
            return parsed;
        }
        for (const json& link : *links) {
            if (!link.is_object())
                continue;
            CapturedLink captured;
            if (!readString(link, "url", captured.url))
                continue;
            // A text that is not a string is left out; the link stays.
            if (!readString(link, "text", captured.text))
                captured.text.clear();
            if (!readString(link, "fileName", captured.fileName) || captured.fileName.size() > kMaxSuggestedNameBytes)
                captured.fileName.clear();
            captured.fileName = lastPathComponent(captured.fileName);
            if (isDownloadable(captured.url))
                request.links.push_back(std::move(captured));
        }
        if (request.links.empty()) {
            parsed.error = "the list holds no http, https or ftp link";
            return parsed;
        }
    } else {
        parsed.error = "unknown message type \"" + type.substr(0, 40) + "\"";
        return parsed;
    }
    request.cookies = readCookies(message);
    parsed.request = std::move(request);
    return parsed;
}

namespace {

// The plain click-catcher form of one URL, which carries only the URL and its
// referrer.
void plainUrlHandOver(const BrowserRequest& request, CatcherHandOver& handOver)
{
    if (request.url.size() > kMaxBlockUrlBytes) {
        // The file form carries a longer URL, without its referrer.
        if (request.url.size() > kMaxFileUrlBytes) {
            handOver.error = "the URL is longer than " + std::to_string(kMaxFileUrlBytes) + " bytes";
            return;
        }
        handOver.item = hexCode(request.always ? CatchCode::FileUrlAlways : CatchCode::FileUrl);
        handOver.fileData = request.url;
        return;
    }
    if (request.always) {
        handOver.item = itemFor(CatchCode::BlockUrlAlways, EncodeCaughtUrlBlock(request.url, std::nullopt));
    } else if (!request.referrer.empty() && request.referrer.size() <= kMaxBlockRefererBytes) {
        handOver.item = itemFor(CatchCode::BlockUrlReferer, EncodeCaughtUrlBlock(request.url, request.referrer));
    } else {
        handOver.item = itemFor(CatchCode::BlockUrl, EncodeCaughtUrlBlock(request.url, std::nullopt));
    }
}

void browserUrlHandOver(const BrowserRequest& request, CatcherHandOver& handOver)
{
    if (request.url.size() > kMaxFileUrlBytes) {
        handOver.error = "the URL is longer than " + std::to_string(kMaxFileUrlBytes) + " bytes";
        return;
    }
    CaughtUrl caught{request.url, request.referrer, request.userAgent, lastPathComponent(request.fileName)};
    if (caught.referer.size() > kMaxBlockRefererBytes)
        caught.referer.clear();
    handOver.item = itemFor(request.always ? CatchCode::BlockUrlAlways : CatchCode::BlockUrlReferer,
                            EncodeBrowserUrlBlock(caught));
}

}  // namespace

CatcherHandOver MakeCatcherHandOver(const BrowserRequest& request, size_t itemLimit, bool browserLayout)
{
    CatcherHandOver handOver;
    // "0x55 " and the base64 of the data, which grows by a third.
    const auto fitsItem = [itemLimit](size_t dataBytes) { return 5 + (dataBytes + 2) / 3 * 4 <= itemLimit; };
    switch (request.kind) {
    case BrowserRequest::Kind::Ping: handOver.error = "a ping hands nothing over"; break;
    case BrowserRequest::Kind::Download:
        if (browserLayout)
            browserUrlHandOver(request, handOver);
        else
            plainUrlHandOver(request, handOver);
        break;
    case BrowserRequest::Kind::Links: {
        const std::string data = browserLayout ? EncodeBrowserLinks(request.pageUrl, request.userAgent, request.links)
                                               : EncodeCaughtLinks(request.pageUrl, request.links);
        if (fitsItem(data.size())) {
            handOver.item = itemFor(CatchCode::BlockList, data);
        } else if (data.size() <= kMaxCatchFileBytes) {
            handOver.item = hexCode(CatchCode::FileList);
            handOver.fileData = data;
        } else {
            handOver.error = "the list is larger than " + std::to_string(kMaxCatchFileBytes / (1024 * 1024)) + " MiB";
        }
        break;
    }
    }
    return handOver;
}

std::string CapturedFileName(const BrowserRequest& request)
{
    // The suggested name may be a path on the browser's side.
    if (!request.fileName.empty())
        return request.fileName.substr(request.fileName.find_last_of("/\\") + 1);
    const std::optional<UrlEntry> url = ParseUrl(request.url);
    if (!url)
        return {};
    std::string path = url->object;
    if (const size_t query = path.find_first_of("?#"); query != std::string::npos)
        path.resize(query);
    return path.substr(path.find_last_of('/') + 1);
}

std::string CatchReplyJson(const std::string& id, bool taken, bool closing)
{
    json reply = {{"ok", true}, {"taken", taken}, {"closing", closing}};
    reply["id"] = json::parse(id, nullptr, false);
    return reply.dump();
}

std::string PingReplyJson(const std::string& id, bool running, std::string_view hostVersion)
{
    json reply = {{"ok", true}, {"running", running}, {"host", std::string(hostVersion)}};
    reply["id"] = json::parse(id, nullptr, false);
    return reply.dump();
}

std::string ErrorReplyJson(const std::string& id, std::string_view error)
{
    // dump() with replacement: an error may quote bytes that are not UTF-8.
    json reply = {{"ok", false}, {"error", std::string(error)}};
    reply["id"] = json::parse(id, nullptr, false);
    return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace fetchora

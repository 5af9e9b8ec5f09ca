#include "shell/click_catcher.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lang/string_table.h"
#include "net/base64_codec.h"
#include "platform/text_utils.h"
#include "shell/clipboard_capture.h"
#include "shell/user_prompts.h"

namespace fetchora {
namespace {

constexpr uint32_t kNoValidUrls = 61355;

// Reads length-prefixed fields without ever stepping past the data.
class FieldReader {
public:
    explicit FieldReader(std::span<const uint8_t> data) : m_data(data) { }

    bool atEnd() const { return m_pos == m_data.size(); }

    // The next field; none when its length is missing, negative or longer
    // than what is left.
    std::optional<std::string> field()
    {
        if (m_data.size() - m_pos < 4)
            return std::nullopt;
        const uint32_t raw = uint32_t{m_data[m_pos]} | uint32_t{m_data[m_pos + 1]} << 8
            | uint32_t{m_data[m_pos + 2]} << 16 | uint32_t{m_data[m_pos + 3]} << 24;
        const auto length = static_cast<int32_t>(raw);
        if (length < 0 || static_cast<size_t>(length) > m_data.size() - m_pos - 4)
            return std::nullopt;
        m_pos += 4;
        std::string text(reinterpret_cast<const char*>(m_data.data() + m_pos), static_cast<size_t>(length));
        m_pos += static_cast<size_t>(length);
        return untilZero(std::move(text));
    }

    static std::string untilZero(std::string text)
    {
        const size_t zero = text.find('\0');
        if (zero != std::string::npos)
            text.resize(zero);
        return text;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
};

void appendLength(std::string& out, size_t length)
{
    const auto value = static_cast<uint32_t>(length);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendField(std::string& out, std::string_view text)
{
    appendLength(out, text.size());
    out.append(text);
}

bool isFileCode(uint32_t code)
{
    return code == static_cast<uint32_t>(CatchCode::FileUrl) || code == static_cast<uint32_t>(CatchCode::FileList)
        || code == static_cast<uint32_t>(CatchCode::FileUrlAlways);
}

bool isStrictBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return false;
    size_t padding = 0;
    for (const char c : text) {
        const bool alphabet
            = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=')
            ++padding;
        else if (!alphabet || padding > 0)
            return false;
    }
    return padding <= 2;
}

std::optional<uint32_t> parseCode(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t code = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return code;
}

// Whether what we opened is ours and nobody else may have written it: a
// file that another user planted, or any user may change, is no hand-over
// of our browser's. A folder must not let others add or swap its files.
bool ownedByUs(const struct stat& info, mode_t othersMayNot)
{
    return info.st_uid == ::geteuid() && (info.st_mode & othersMayNot) == 0;
}

// The hand-over file's bytes, at most limit; none when the folder or the file
// fails the test above, the file has other names (a hard link), it is no
// regular file (a symlink is not followed, a pipe not waited on), or it is
// larger than the limit.
std::optional<std::vector<uint8_t>> readHandOverFile(const std::filesystem::path& folder, std::string_view name,
                                                     size_t limit)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return std::nullopt;
    struct stat folderInfo { };
    const bool folderOk = ::fstat(dir, &folderInfo) == 0 && ownedByUs(folderInfo, S_IWGRP | S_IWOTH);
    const int fd
        = folderOk ? ::openat(dir, std::string(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK) : -1;
    ::close(dir);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    struct stat info { };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ownedByUs(info, S_IWOTH) && info.st_nlink == 1
        && static_cast<uint64_t>(info.st_size) <= limit) {
        std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        result = std::move(bytes);
    }
    ::close(fd);
    return result;
}

}  // namespace

std::optional<CaughtUrl> ReadCaughtUrlBlock(std::span<const uint8_t> data, bool withReferer)
{
    FieldReader reader(data);
    std::optional<std::string> url = reader.field();
    // A URL cut to fit would name another file; one that does not fit is refused.
    if (!url || url->empty() || url->size() > kMaxBlockUrlBytes)
        return std::nullopt;
    CaughtUrl caught{std::move(*url), {}};
    if (withReferer && !reader.atEnd()) {
        std::optional<std::string> referer = reader.field();
        if (!referer)
            return std::nullopt;
        if (referer->size() <= kMaxBlockRefererBytes)
            caught.referer = std::move(*referer);
    }
    return caught;
}

std::optional<CaughtUrl> ReadCaughtUrlFile(std::span<const uint8_t> data)
{
    const size_t size = std::min(data.size(), kMaxFileUrlBytes);
    std::string text = FieldReader::untilZero(std::string(reinterpret_cast<const char*>(data.data()), size));
    // A script that writes the file usually ends it with a line break.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty() || text.size() > kMaxBlockUrlBytes || data.size() > kMaxFileUrlBytes)
        return std::nullopt;
    return CaughtUrl{std::move(text), {}};
}

CaughtLinks ReadCaughtLinks(std::span<const uint8_t> data)
{
    CaughtLinks result;
    FieldReader reader(data);
    std::optional<std::string> description = reader.field();
    if (!description)
        return result;
    result.description = std::move(*description);
    while (!reader.atEnd()) {
        std::optional<std::string> url = reader.field();
        if (!url)
            break;
        std::string text;
        if (!reader.atEnd()) {
            std::optional<std::string> field = reader.field();
            if (!field)
                break;
            text = std::move(*field);
        }
        if (!url->empty() && IsCapturableUrl(*url))
            result.links.push_back(CapturedLink{std::move(*url), std::move(text), {}, 0});
    }
    return result;
}

std::optional<CaughtUrl> ReadBrowserUrlBlock(std::span<const uint8_t> data)
{
    FieldReader reader(data);
    std::optional<std::string> url = reader.field();
    if (!url || url->empty() || url->size() > kMaxFileUrlBytes)
        return std::nullopt;
    CaughtUrl caught{std::move(*url), {}};
    // Later fields may be left out; a broken one refuses the whole URL, as
    // in the older layouts.
    const std::pair<std::string*, size_t> extras[] = {{&caught.referer, kMaxBlockRefererBytes},
                                                      {&caught.userAgent, kMaxUserAgentBytes},
                                                      {&caught.fileName, kMaxSuggestedNameBytes}};
    for (const auto& [target, limit] : extras) {
        if (reader.atEnd())
            break;
        std::optional<std::string> field = reader.field();
        if (!field)
            return std::nullopt;
        if (field->size() <= limit)
            *target = std::move(*field);
    }
    return caught;
}

CaughtLinks ReadBrowserLinks(std::span<const uint8_t> data)
{
    CaughtLinks result;
    FieldReader reader(data);
    std::optional<std::string> description = reader.field();
    std::optional<std::string> userAgent = description ? reader.field() : std::nullopt;
    if (!userAgent)
        return result;
    result.description = std::move(*description);
    if (userAgent->size() > kMaxUserAgentBytes)
        userAgent->clear();
    while (!reader.atEnd()) {
        std::optional<std::string> fields[3];
        bool whole = true;
        for (size_t i = 0; i < 3 && whole; ++i) {
            fields[i] = reader.atEnd() && i > 0 ? std::optional<std::string>(std::string()) : reader.field();
            whole = fields[i].has_value();
        }
        if (!whole)
            break;
        if (fields[2]->size() > kMaxSuggestedNameBytes)
            fields[2]->clear();
        if (!fields[0]->empty() && IsCapturableUrl(*fields[0]))
            result.links.push_back(
                CapturedLink{std::move(*fields[0]), std::move(*fields[1]), {}, 0, std::move(*fields[2]), *userAgent});
    }
    return result;
}

std::string EncodeBrowserUrlBlock(const CaughtUrl& url)
{
    std::string out;
    for (const std::string* field : {&url.url, &url.referer, &url.userAgent, &url.fileName})
        appendField(out, *field);
    return out;
}

std::string EncodeBrowserLinks(std::string_view description, std::string_view userAgent,
                               const std::vector<CapturedLink>& links)
{
    std::string out;
    appendField(out, description);
    appendField(out, userAgent);
    for (const CapturedLink& link : links) {
        appendField(out, link.url);
        appendField(out, link.text);
        appendField(out, link.fileName);
    }
    return out;
}

std::string EncodeCaughtUrlBlock(std::string_view url, std::optional<std::string_view> referer)
{
    std::string out;
    appendField(out, url);
    if (referer)
        appendField(out, *referer);
    return out;
}

std::string EncodeCaughtLinks(std::string_view description, const std::vector<CapturedLink>& links)
{
    std::string out;
    appendField(out, description);
    for (const CapturedLink& link : links) {
        appendField(out, link.url);
        appendField(out, link.text);
    }
    return out;
}

ClickCatcher::ClickCatcher(ClickCatcherHost& host, UserPrompts& prompts, std::filesystem::path temporaryFolder)
    : m_host(host), m_prompts(prompts), m_temporaryFolder(std::move(temporaryFolder))
{
}

int32_t ClickCatcher::handOver(uint32_t code, std::span<const uint8_t> data, bool browserLayout)
{
    if (m_host.closing())
        return kCatchClosing;
    if (browserLayout) {
        switch (static_cast<CatchCode>(code)) {
        case CatchCode::FileUrl:
        case CatchCode::BlockUrl:
        case CatchCode::BlockUrlReferer: return singleUrl(ReadBrowserUrlBlock(data), true);
        case CatchCode::FileUrlAlways:
        case CatchCode::BlockUrlAlways: return singleUrl(ReadBrowserUrlBlock(data), false);
        case CatchCode::FileList: return linkList(ReadBrowserLinks(data), 1, false);
        case CatchCode::BlockList: return linkList(ReadBrowserLinks(data), 3, true);
        }
        return kCatchNotTaken;
    }
    switch (static_cast<CatchCode>(code)) {
    case CatchCode::FileUrl: return singleUrl(ReadCaughtUrlFile(data), true);
    case CatchCode::FileUrlAlways: return singleUrl(ReadCaughtUrlFile(data), false);
    case CatchCode::BlockUrl: return singleUrl(ReadCaughtUrlBlock(data, false), true);
    case CatchCode::BlockUrlAlways: return singleUrl(ReadCaughtUrlBlock(data, false), false);
    case CatchCode::BlockUrlReferer: return singleUrl(ReadCaughtUrlBlock(data, true), true);
    case CatchCode::FileList: return linkList(ReadCaughtLinks(data), 1, false);
    case CatchCode::BlockList: return linkList(ReadCaughtLinks(data), 3, true);
    }
    return kCatchNotTaken;
}

int32_t ClickCatcher::handOverFromFile(uint32_t code, bool browserLayout)
{
    if (m_host.closing())
        return kCatchClosing;
    if (!isFileCode(code))
        return kCatchNotTaken;
    // The browser layout's one URL also carries its referrer, agent and name.
    const size_t urlLimit = browserLayout ? kMaxFileUrlBytes * 4 : kMaxFileUrlBytes;
    const size_t limit = code == static_cast<uint32_t>(CatchCode::FileList) ? kMaxCatchFileBytes : urlLimit;
    const std::optional<std::vector<uint8_t>> bytes = readHandOverFile(m_temporaryFolder, kClickCatcherFile, limit);
    if (!bytes)
        return kCatchNotTaken;
    return handOver(code, *bytes, browserLayout);
}

int32_t ClickCatcher::singleUrl(const std::optional<CaughtUrl>& url, bool refusedRule)
{
    if (!url)
        return kCatchNotTaken;
    if (refusedRule && (m_host.monitorFlags() & kMonitorReturnRefused) != 0) {
        // The browser's second try of a URL the user just refused passes.
        if (!m_lastRefused.empty() && url->url == m_lastRefused) {
            m_lastRefused.clear();
            return kCatchNotTaken;
        }
        if (m_host.sendUrl(*url) != 0) {
            m_lastRefused = url->url;
            return kCatchNotTaken;
        }
        return kCatchTaken;
    }
    m_host.postUrl(*url);
    return kCatchTaken;
}

int32_t ClickCatcher::linkList(CaughtLinks list, int32_t source, bool moreRaisesSource)
{
    if (list.links.empty()) {
        m_prompts.message(std::string(builtinString(kNoValidUrls)), MessageIcon::Warning);
        return kCatchNotTaken;
    }
    if (moreRaisesSource && list.links.size() > 1)
        ++source;
    // The description names the page the links are on, when it is a URL.
    std::string base = IsCapturableUrl(list.description) ? list.description : std::string();
    m_host.postLinks(std::move(list.links), base, source);
    return kCatchTaken;
}

std::optional<std::string> ClickCatcher::serve(const std::string& topic, const std::string& item)
{
    const bool browserLayout = equalsIgnoringCase(topic, kTopicBrowserCatch);
    if (!browserLayout && !equalsIgnoringCase(topic, kTopicClickCatcher))
        return std::nullopt;
    std::string_view text = item;
    const size_t blank = text.find(' ');
    const std::optional<uint32_t> code = parseCode(text.substr(0, blank));
    std::string_view encoded = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r'))
        encoded.remove_suffix(1);
    int32_t answer = kCatchNotTaken;
    if (!code)
        answer = m_host.closing() ? kCatchClosing : kCatchNotTaken;
    else if (blank == std::string_view::npos)
        answer = handOverFromFile(*code, browserLayout);
    else if (isStrictBase64(encoded))
        answer = handOver(*code, Base64Codec().decode(encoded), browserLayout);
    else
        answer = m_host.closing() ? kCatchClosing : kCatchNotTaken;
    return std::to_string(answer);
}

}  // namespace fetchora

#include "net/http_response.h"

#include <algorithm>
#include <ctime>
#include <limits>

#include "net/connection_log.h"
#include "net/http_date.h"
#include "net/net_texts.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();

// Decimal digits only, fitting 63 bits; at most 18 digits never overflow,
// longer texts are checked digit by digit.
std::optional<int64_t> parseDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (kMaxInt64 - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Removes the characters that have no place in a file name taken from a
// header (control characters) and the blanks around it.
std::string cleanName(std::string_view name)
{
    std::string out;
    for (char c : trimBoth(name, kLineBlanks)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            out.push_back(c);
    }
    return out;
}

std::string_view afterLastSeparator(std::string_view name)
{
    const std::size_t cut = name.find_last_of("/\\");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

// The value of a `filename*=` parameter: charset'language'percent-encoded
// bytes. Nothing for a charset other than UTF-8 or ISO-8859-1, or a broken
// encoding.
std::optional<std::string> extendedValue(std::string_view value)
{
    const std::size_t firstQuote = value.find('\'');
    const std::size_t secondQuote
        = firstQuote == std::string_view::npos ? firstQuote : value.find('\'', firstQuote + 1);
    if (secondQuote == std::string_view::npos)
        return std::nullopt;
    const std::string charset = asciiLower(trimBoth(value.substr(0, firstQuote), kLineBlanks));
    const bool latin1 = charset == "iso-8859-1";
    if (charset != "utf-8" && !latin1)
        return std::nullopt;
    std::string_view encoded = value.substr(secondQuote + 1);
    encoded = encoded.substr(0, encoded.find(';'));
    encoded = trimBoth(encoded, kLineBlanks);
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(encoded[i]);
        if (byte == '%') {
            if (i + 2 >= encoded.size())
                return std::nullopt;
            const int high = hexDigitValue(encoded[i + 1]);
            const int low = hexDigitValue(encoded[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            byte = static_cast<unsigned char>(high * 16 + low);
            i += 2;
        }
        if (latin1 && byte >= 0x80) {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

// Where a parameter's value starts: after "name=" at a parameter's start
// (the value's start or after a ';'), whatever the case of the name.
std::optional<std::size_t> parameterValueAt(std::string_view value, std::string_view name)
{
    const std::string lower = asciiLower(value);
    for (std::size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
        std::size_t before = at;
        while (before > 0 && isBlank(lower[before - 1], kSpaceTab))
            --before;
        if (before != 0 && lower[before - 1] != ';')
            continue;
        std::size_t after = at + name.size();
        while (after < lower.size() && isBlank(lower[after], kSpaceTab))
            ++after;
        if (after < lower.size() && lower[after] == '=')
            return after + 1;
    }
    return std::nullopt;
}

std::string safeName(std::string_view name)
{
    std::string cleaned = cleanName(afterLastSeparator(name));
    if (cleaned == "." || cleaned == "..")
        return {};
    return cleaned;
}

}  // namespace

SplitStatus SplitHeaderLine(int& lineMode, std::string_view buffer, std::string& line, std::size_t& consumed)
{
    buffer = buffer.substr(0, kHeaderBufferSize);
    for (std::size_t at = 0; at < buffer.size(); ++at) {
        if (buffer[at] != '\n')
            continue;
        const bool crLf = at > 0 && buffer[at - 1] == '\r';
        if (!crLf && lineMode >= kLineModeCrLf)
            continue;
        if (crLf)
            lineMode = kLineModeCrLf;
        line.assign(buffer.substr(0, crLf ? at - 1 : at));
        consumed = at + 1;
        return SplitStatus::Line;
    }
    return SplitStatus::NeedMore;
}

SplitStatus HeaderBuffer::nextLine(std::string& line)
{
    if (!m_started) {
        std::size_t skip = 0;
        while (skip < m_fill && (m_bytes[skip] == '\r' || m_bytes[skip] == '\n'))
            ++skip;
        // A lone CR may be the first half of a CR LF: keep it for now.
        if (skip == m_fill && skip > 0 && m_bytes[skip - 1] == '\r')
            --skip;
        std::copy(m_bytes.begin() + skip, m_bytes.begin() + m_fill, m_bytes.begin());
        m_fill -= skip;
        if (m_fill == 0 || m_bytes[0] == '\r')
            return SplitStatus::NeedMore;
        m_started = true;
    }
    std::size_t consumed = 0;
    const SplitStatus status = SplitHeaderLine(m_lineMode, {m_bytes.data(), m_fill}, line, consumed);
    if (status == SplitStatus::Line) {
        std::copy(m_bytes.begin() + consumed, m_bytes.begin() + m_fill, m_bytes.begin());
        m_fill -= consumed;
    }
    return status;
}

std::span<uint8_t> HeaderBuffer::rest()
{
    return {reinterpret_cast<uint8_t*>(m_bytes.data()), m_fill};
}

std::optional<ContentRange> ParseContentRange(std::string_view value)
{
    value = trimBoth(value, kLineBlanks);
    if (value.size() < 6 || !equalsIgnoringCase(value.substr(0, 5), "bytes") || !isBlank(value[5], kSpaceTab))
        return std::nullopt;
    value = trimBoth(value.substr(6), kLineBlanks);
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.rfind('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const std::string_view firstText = trimBoth(value.substr(0, dash), kLineBlanks);
    const std::optional<int64_t> first = parseDecimal(firstText);
    const std::optional<int64_t> last = parseDecimal(trimBoth(value.substr(dash + 1, slash - dash - 1), kLineBlanks));
    const std::string_view totalText = trimBoth(value.substr(slash + 1), kLineBlanks);
    if (!first || !last || *first > *last)
        return std::nullopt;
    ContentRange range{*first, *last, -1, firstText == "0"};
    if (totalText != "*") {
        const std::optional<int64_t> total = parseDecimal(totalText);
        if (!total)
            return std::nullopt;
        range.total = *total;
    }
    return range;
}

std::optional<int64_t> ParseContentLength(std::string_view value)
{
    return parseDecimal(trimBoth(value, kLineBlanks));
}

std::string NormaliseLastModified(std::string_view value)
{
    value = trimBoth(value, kLineBlanks);
    if (const std::size_t blank = value.find(' '); blank != std::string_view::npos)
        value = trimBoth(value.substr(blank + 1), kLineBlanks);
    if (value.size() < 4)
        return std::string(value);
    const std::string_view tail = value.substr(value.size() - 4);
    const std::string_view rest = trimBoth(value.substr(0, value.size() - 4), kLineBlanks);
    if (equalsIgnoringCase(tail, " GMT"))
        return std::string(rest);
    return std::string(tail) + " " + std::string(rest);
}

std::string ContentDispositionFileName(std::string_view value)
{
    // The extended form carries the name's real characters; browsers prefer
    // it, and servers send the plain one only as a fallback for old clients.
    if (const std::optional<std::size_t> extended = parameterValueAt(value, "filename*")) {
        if (const std::optional<std::string> decoded = extendedValue(value.substr(*extended))) {
            if (std::string name = safeName(*decoded); !name.empty())
                return name;
        }
    }
    const std::optional<std::size_t> at = parameterValueAt(value, "filename");
    if (!at)
        return {};
    std::string_view name = trimBoth(value.substr(*at), kLineBlanks);
    if (const std::size_t open = name.find('"'); open != std::string_view::npos) {
        const std::size_t close = name.find('"', open + 1);
        name = name.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    } else {
        // An unquoted name is a token: it ends at the next parameter.
        name = name.substr(0, name.find(';'));
    }
    return safeName(name);
}

std::optional<int32_t> ParseRetryAfter(std::string_view value, int64_t now)
{
    value = trimBoth(value, kLineBlanks);
    if (const std::optional<int64_t> seconds = parseDecimal(value))
        return static_cast<int32_t>(std::min<int64_t>(*seconds, std::numeric_limits<int32_t>::max()));
    const std::optional<int32_t> when = HttpDateSeconds(value);
    if (!when)
        return std::nullopt;
    return static_cast<int32_t>(std::clamp<int64_t>(*when - now, 0, std::numeric_limits<int32_t>::max()));
}

void HttpResponseParser::fail(std::string why)
{
    if (m_error.empty())
        m_error = std::move(why);
}

ResponseState HttpResponseParser::ParseResponseLine(std::string_view line, ConnectionLog* log)
{
    if (!m_error.empty() || m_state == ResponseState::Body)
        return m_state;
    if (!line.empty() && log)
        log->logLine(ConnectionLogKind::Received, line);
    if (++m_lines > kMaxHeaderLines) {
        fail(builtinText(kStrHttpTooManyHeaderLines, {std::to_string(kMaxHeaderLines)}));
        return m_state;
    }
    if (m_state == ResponseState::StatusLine) {
        parseStatusLine(line);
        m_state = ResponseState::Headers;
        return m_state;
    }
    if (line.empty()) {
        endOfHead();
        return m_state;
    }
    if (!m_boundary.empty() && !m_inMultipart) {
        // Lines before the first boundary (a preamble) carry nothing.
        if (trimBoth(line, kLineBlanks).starts_with(m_boundary))
            m_inMultipart = true;
        return m_state;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return m_state;
    parseHeader(trimBoth(line.substr(0, colon), kLineBlanks), trimBoth(line.substr(colon + 1), kLineBlanks));
    return m_state;
}

void HttpResponseParser::parseStatusLine(std::string_view line)
{
    while (!line.empty() && isBlank(line.front(), kSpaceTab))
        line.remove_prefix(1);
    const std::size_t blank = line.find(' ');
    int code = 404;
    char minor = '0';
    if (blank != std::string_view::npos) {
        minor = blank > 0 ? line[blank - 1] : '0';
        const std::string_view codeText = line.substr(blank + 1, 3);
        const std::optional<int64_t> parsed = codeText.size() == 3 ? parseDecimal(codeText) : std::nullopt;
        code = parsed ? static_cast<int>(*parsed) : 0;
    }
    m_status = code;
    if (code < 200 || code >= 400) {
        // "HTTP 404 Not Found": the code and the server's own words for it.
        std::string_view phrase
            = blank != std::string_view::npos && line.size() > blank + 4 ? line.substr(blank + 4) : std::string_view();
        phrase = trimBoth(phrase.substr(0, 80), kLineBlanks);
        m_info.cause = "HTTP " + std::to_string(code) + (phrase.empty() ? "" : " " + std::string(phrase));
    }
    switch (code) {
    case 200:
        m_info.outcome = ResponseOutcome::Success;
        if (minor >= '1' && minor <= '9')
            m_info.resume = ResumeInfo::Honoured;
        break;
    case 206:
        m_info.outcome = ResponseOutcome::Success;
        m_info.resume = ResumeInfo::Honoured;
        break;
    case 301:
    case 302:
    case 303:
    case 307:
    case 308: m_info.outcome = ResponseOutcome::Redirect; break;
    // The client's own request or rights are wrong: asking again gets the
    // same answer. (A login the URL carries was already sent with it.)
    case 400:
    case 401:
    case 402:
    case 403:
    case 404:
    case 405:
    case 406:
    case 407:
    case 410: m_info.outcome = ResponseOutcome::NotFound; break;
    default: m_info.outcome = ResponseOutcome::OtherError; break;
    }
}

void HttpResponseParser::parseHeader(std::string_view name, std::string_view value)
{
    if (m_inMultipart) {
        // Inside the first part only its own range counts.
        if (equalsIgnoringCase(name, "Content-Range"))
            contentRange(value);
        return;
    }
    if (equalsIgnoringCase(name, "Content-Length")) {
        contentLength(value);
    } else if (equalsIgnoringCase(name, "Content-Range")) {
        contentRange(value);
    } else if (equalsIgnoringCase(name, "Location")) {
        m_info.location = value;
    } else if (equalsIgnoringCase(name, "Last-modified")) {
        m_info.lastModified = NormaliseLastModified(value);
    } else if (equalsIgnoringCase(name, "ETag")) {
        m_info.etag = value;
    } else if (equalsIgnoringCase(name, "Content-Type")) {
        constexpr std::string_view kKey = "boundary=";
        const std::string lower = asciiLower(value);
        if (const std::size_t at = lower.find(kKey); at != std::string::npos && at > 0) {
            std::string_view boundary = value.substr(at + kKey.size());
            boundary = trimBoth(boundary.substr(0, boundary.find(';')), kLineBlanks);
            if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
                boundary = boundary.substr(1, boundary.size() - 2);
            if (!boundary.empty())
                m_boundary = "--" + std::string(boundary);
        }
    } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
        if (asciiLower(value).find("chunked") != std::string::npos)
            m_chunked = true;
    } else if (equalsIgnoringCase(name, "Content-Disposition")) {
        if (std::string fileName = ContentDispositionFileName(value); !fileName.empty())
            m_info.fileName = std::move(fileName);
    } else if (equalsIgnoringCase(name, "Set-Cookie")) {
        // Only a redirect's cookie is kept (for the request to the new
        // place), and only its name and value: the attributes are not sent.
        // A Secure one is kept apart, so that it never goes out over plain
        // http.
        if (m_info.outcome == ResponseOutcome::Redirect) {
            const std::string_view pair = trimBoth(value.substr(0, value.find(';')), kLineBlanks);
            bool secure = false;
            for (std::size_t at = value.find(';'); at != std::string_view::npos; at = value.find(';', at + 1)) {
                std::string_view attribute = value.substr(at + 1);
                attribute = trimBoth(attribute.substr(0, attribute.find(';')), kLineBlanks);
                secure = secure || equalsIgnoringCase(attribute, "Secure");
            }
            std::string& target = secure ? m_info.secureCookie : m_info.cookie;
            if (!pair.empty())
                target += (target.empty() ? "" : "; ") + std::string(pair);
        }
    } else if (equalsIgnoringCase(name, "Retry-After")) {
        if (const std::optional<int32_t> seconds = ParseRetryAfter(value, static_cast<int64_t>(std::time(nullptr))))
            m_info.retryAfterSeconds = *seconds;
    }
}

void HttpResponseParser::contentLength(std::string_view value)
{
    const std::optional<int64_t> length = ParseContentLength(value);
    if (!length) {
        fail(builtinText(kStrHttpBadContentLength, {value}));
        return;
    }
    if (m_contentLength && *m_contentLength != *length) {
        fail(builtinText(kStrHttpTwoContentLengths));
        return;
    }
    m_contentLength = length;
    if (*length <= 0)
        return;
    m_info.size = *length;
    if (m_info.resume == ResumeInfo::NotHonoured)
        return;
    // A whole file in answer to a range, recognised by its size or by the
    // plain 200 status: the range was ignored.
    if (m_rangeStart != 0 && (*length == m_knownSize || m_status == 200)) {
        m_info.resume = ResumeInfo::NotHonoured;
        return;
    }
    if (*length > kMaxInt64 - m_rangeStart) {
        fail(builtinText(kStrHttpContentLengthTooLarge, {value}));
        return;
    }
    m_info.size = m_rangeStart + *length;
}

void HttpResponseParser::contentRange(std::string_view value)
{
    const std::optional<ContentRange> range = ParseContentRange(value);
    if (!range) {
        fail(builtinText(kStrHttpBadContentRange, {value}));
        return;
    }
    m_range = range;
    m_info.resume = ResumeInfo::Honoured;
    const int64_t total = range->total;
    if (m_rangeStart != 0) {
        if (total >= 0)
            m_info.size = total;
        if (range->first == 0 && range->firstIsZeroText) {
            // The server started at the beginning after all.
            if (m_knownSize >= 0)
                m_info.size = m_knownSize;
            m_info.resume = ResumeInfo::NotHonoured;
        }
        // A server that gives the remaining length as the total.
        if (m_info.resume == ResumeInfo::Honoured && total >= 0 && m_knownSize >= 0 && total <= kMaxInt64 - m_rangeStart
            && m_knownSize == m_rangeStart + total)
            m_info.size = m_knownSize;
    } else if (total > m_info.size) {
        m_info.size = total;
    }
    if (m_info.size >= 0 && range->last >= m_info.size) {
        fail(builtinText(kStrHttpRangeBeyondEnd, {value}));
        return;
    }
}

void HttpResponseParser::endOfHead()
{
    if (!m_boundary.empty() && !m_inMultipart)
        return;  // the first part's headers are still to come
    // A 200 to a ranged request carries the file from byte 0 whatever its
    // length says (a chunked one says nothing): the range was not honoured.
    if (m_status == 200 && m_rangeStart != 0)
        m_info.resume = ResumeInfo::NotHonoured;
    m_state = ResponseState::Body;
}

int64_t HttpResponseParser::bodyOffset() const
{
    if (m_status == 206 && m_range)
        return m_range->first;
    if (m_status == 200 && m_rangeStart != 0)
        return 0;
    return m_rangeStart;
}

std::optional<int64_t> HttpResponseParser::bodyEnd() const
{
    std::optional<int64_t> end;
    if (m_status == 206 && m_range)
        end = m_range->last + 1;
    // A multipart body's length counts its boundaries too; a chunked body
    // ends with its last chunk.
    if (m_contentLength && !m_chunked && m_boundary.empty()) {
        const int64_t offset = bodyOffset();
        const int64_t byLength = *m_contentLength > kMaxInt64 - offset ? kMaxInt64 : offset + *m_contentLength;
        end = end ? std::min(*end, byLength) : byLength;
    }
    return end;
}

}  // namespace fetchora

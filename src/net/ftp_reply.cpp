#include "net/ftp_reply.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "net/http_response.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

std::string_view FtpReply::text() const
{
    if (lines.empty())
        return {};
    const std::string_view line = lines.back();
    return line.size() > 4 ? line.substr(4) : std::string_view();
}

std::optional<int> FtpReplyEndCode(std::string_view line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return std::nullopt;
    if (line.size() > 3 && line[3] != ' ')
        return std::nullopt;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::optional<int32_t> ParseMaxConnectionHint(std::string_view line)
{
    const std::string lowered = asciiLower(line);
    for (const std::string_view marker : {"fetchora: maxconnection=", "netants: maxconnection="}) {
        const std::size_t at = lowered.find(marker);
        if (at == std::string::npos)
            continue;
        int64_t value = 0;
        bool any = false;
        for (std::size_t i = at + marker.size(); i < lowered.size() && isDigit(lowered[i]); ++i) {
            any = true;
            value = std::min<int64_t>(value * 10 + (lowered[i] - '0'), std::numeric_limits<int32_t>::max());
        }
        if (any && value > 0)
            return static_cast<int32_t>(value);
    }
    return std::nullopt;
}

std::optional<int64_t> ParseFtpNumber(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<int64_t> ParseFtpAnnouncedSize(std::string_view line)
{
    const std::size_t open = line.rfind('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::size_t end = open + 1;
    while (end < line.size() && isDigit(line[end]))
        ++end;
    return ParseFtpNumber(line.substr(open + 1, end - open - 1));
}

FtpReplyReader::Status FtpReplyReader::nextLine(std::string& line)
{
    std::size_t consumed = 0;
    const SplitStatus status = SplitHeaderLine(m_lineMode, {m_bytes.data(), m_fill}, line, consumed);
    if (status == SplitStatus::NeedMore)
        return m_fill == m_bytes.size() ? Status::Broken : Status::NeedMore;
    std::memmove(m_bytes.data(), m_bytes.data() + consumed, m_fill - consumed);
    m_fill -= consumed;
    return Status::Line;
}

bool FtpReplyReader::lineWaiting() const
{
    int mode = m_lineMode;
    std::string line;
    std::size_t consumed = 0;
    return SplitHeaderLine(mode, {m_bytes.data(), m_fill}, line, consumed) != SplitStatus::NeedMore;
}

bool FtpReplyReader::gather(std::string line, FtpReply& out)
{
    const std::optional<int> code = FtpReplyEndCode(line);
    m_pending.lines.push_back(std::move(line));
    if (!code) {
        if (m_pending.lines.size() >= kMaxFtpReplyLines) {
            m_broken = true;
            m_pending = FtpReply();
        }
        return false;
    }
    m_pending.code = *code;
    out = std::move(m_pending);
    m_pending = FtpReply();
    return true;
}

}  // namespace fetchora

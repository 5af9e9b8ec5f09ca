#include "platform/tcp_connection_count.h"

#include <array>
#include <fstream>

#include "platform/text_utils.h"

namespace fetchora {

namespace {

// Kernel TCP states (include/net/tcp_states.h) that count as a connection.
constexpr unsigned kEstablished = 0x01;
constexpr unsigned kSynSent = 0x02;
constexpr unsigned kSynRecv = 0x03;

// A kernel table of a few hundred thousand sockets stays well below this;
// anything larger is not a table and is read only this far.
constexpr std::size_t kMaxTableBytes = 64u << 20;

// What separates the fields of a table line.
constexpr std::string_view kFieldBlanks = " \t\r";

bool allHex(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

// "0100007F:1F90" or the 32-digit IPv6 form.
bool isAddressPort(std::string_view token)
{
    const auto colon = token.find(':');
    if (colon == std::string_view::npos)
        return false;
    return allHex(token.substr(0, colon)) && allHex(token.substr(colon + 1));
}

// "12:" — the slot number.
bool isSlot(std::string_view token)
{
    if (token.size() < 2 || token.back() != ':')
        return false;
    for (char c : token.substr(0, token.size() - 1)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The first four whitespace-separated tokens of a line; fewer when the line
// is short.
std::size_t leadingTokens(std::string_view line, std::array<std::string_view, 4>& tokens)
{
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < tokens.size()) {
        while (pos < line.size() && isBlank(line[pos], kFieldBlanks))
            ++pos;
        if (pos >= line.size())
            break;
        const std::size_t start = pos;
        while (pos < line.size() && !isBlank(line[pos], kFieldBlanks))
            ++pos;
        tokens[count++] = line.substr(start, pos - start);
    }
    return count;
}

bool countsAsOpen(std::string_view line)
{
    std::array<std::string_view, 4> tokens;
    if (leadingTokens(line, tokens) < 4)
        return false;
    if (!isSlot(tokens[0]) || !isAddressPort(tokens[1]) || !isAddressPort(tokens[2]))
        return false;
    const std::string_view state = tokens[3];
    if (state.size() != 2 || !isHexDigit(state[0]) || !isHexDigit(state[1]))
        return false;
    const auto value = static_cast<unsigned>(hexDigitValue(state[0]) * 16 + hexDigitValue(state[1]));
    return value == kEstablished || value == kSynSent || value == kSynRecv;
}

}  // namespace

uint32_t countOpenTcpEntries(std::string_view tableText)
{
    uint32_t count = 0;
    std::size_t pos = 0;
    while (pos < tableText.size()) {
        auto end = tableText.find('\n', pos);
        if (end == std::string_view::npos)
            end = tableText.size();
        if (countsAsOpen(tableText.substr(pos, end - pos)))
            ++count;
        pos = end + 1;
    }
    return count;
}

TcpConnectionMonitor::~TcpConnectionMonitor() = default;

ProcTcpConnectionMonitor::ProcTcpConnectionMonitor()
    : ProcTcpConnectionMonitor({"/proc/net/tcp", "/proc/net/tcp6"}, &ProcTcpConnectionMonitor::readWholeFile)
{
}

ProcTcpConnectionMonitor::ProcTcpConnectionMonitor(std::vector<std::filesystem::path> tables, Reader reader)
    : m_tables(std::move(tables)), m_reader(std::move(reader))
{
}

std::optional<uint32_t> ProcTcpConnectionMonitor::openConnections() const
{
    bool anyRead = false;
    uint32_t total = 0;
    for (const auto& table : m_tables) {
        const auto text = m_reader ? m_reader(table) : std::nullopt;
        if (!text)
            continue;
        anyRead = true;
        total += countOpenTcpEntries(*text);
    }
    if (!anyRead)
        return std::nullopt;
    return total;
}

std::optional<std::string> ProcTcpConnectionMonitor::readWholeFile(const std::filesystem::path& file)
{
    // /proc files report a size of 0, so read until the end instead of sizing.
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    std::array<char, 65536> buffer;
    while (text.size() < kMaxTableBytes) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        text.append(buffer.data(), got);
    }
    if (in.bad())
        return std::nullopt;
    return text;
}

}  // namespace fetchora

#pragma once
// Counts the machine's TCP connections that are opening or established, for
// the automatic speed limit: every such connection of another program gets a
// share of the line set aside.
//
// On Linux the kernel lists TCP sockets in /proc/net/tcp and /proc/net/tcp6,
// one line per socket with its state as two hex digits in the fourth column.
// The states counted are 01 ESTABLISHED, 02 SYN_SENT and 03 SYN_RECV;
// listening, closing and time-wait sockets are not connections that carry
// traffic now.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// The number of entries in one kernel TCP table text that are in SYN_SENT,
// SYN_RECV or ESTABLISHED state. The header line and every line that does not
// have the shape of a table entry are skipped, so a truncated or garbled
// table counts what can be read.
uint32_t countOpenTcpEntries(std::string_view tableText);

// Where the speed limiter asks for the count. Implementations are called from
// the loop thread (the frame's status timer) and must not block for long.
class TcpConnectionMonitor {
public:
    virtual ~TcpConnectionMonitor();
    // Nothing when the count cannot be had (the limiter then assumes no other
    // traffic).
    virtual std::optional<uint32_t> openConnections() const = 0;
};

// Reads the kernel tables. The reader is replaceable so tests can hand in
// table texts; it returns nothing for a table that cannot be read. A missing
// tcp6 table (IPv6 disabled) is not an error as long as one table is read.
class ProcTcpConnectionMonitor final : public TcpConnectionMonitor {
public:
    using Reader = std::function<std::optional<std::string>(const std::filesystem::path&)>;

    ProcTcpConnectionMonitor();
    ProcTcpConnectionMonitor(std::vector<std::filesystem::path> tables, Reader reader);

    std::optional<uint32_t> openConnections() const override;

    static std::optional<std::string> readWholeFile(const std::filesystem::path& file);

private:
    std::vector<std::filesystem::path> m_tables;
    Reader m_reader;
};

}  // namespace fetchora

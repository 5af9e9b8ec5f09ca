#pragma once
// Where the connection steps write their log lines: the part log of the job
// implements it; tests collect the lines.
//
// Thread: called on the worker thread that runs the connection. An
// implementation that hands lines to another thread does its own locking.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fetchora {

// The kinds every part log line has.
enum class ConnectionLogKind : uint32_t { Status = 0, Sent = 1, Error = 2, Received = 3 };

// Message ids of the lines the connection steps write.
inline constexpr uint32_t kMsgConnectingWithAddress = 61210;  // "Connecting %1 [IP=%2]"
inline constexpr uint32_t kMsgConnected = 61211;  // "Connected."
inline constexpr uint32_t kMsgCannotResolve = 61212;  // "Cannot resolve host name"
inline constexpr uint32_t kMsgConnecting = 61213;  // "Connecting %1"
inline constexpr uint32_t kMsgTimeOut = 61218;  // "Time out."
inline constexpr uint32_t kMsgWaitForRetry = 61219;  // "Wait %d second for retry"
inline constexpr uint32_t kMsgConnectingProxy = 61239;  // "Connecting proxy %1"
inline constexpr uint32_t kMsgErrorOccured = 61241;  // "Error occured!"
inline constexpr uint32_t kMsgConnectingProxyWithAddress = 61242;  // "Connecting proxy %1 [IP=%2]"

class ConnectionLog {
public:
    virtual ~ConnectionLog();

    virtual void logLine(ConnectionLogKind kind, std::string_view text) = 0;

    // The text of a message id in the active language; the built-in English
    // table unless the implementation knows better.
    virtual std::string messageText(uint32_t messageId) const;

    // Logs a message filled from args: its "%1".."%9" placeholders, or for a
    // message without them its printf-style fields.
    void logMessage(ConnectionLogKind kind, uint32_t messageId, std::initializer_list<std::string_view> args = {});
};

// "host:port", with an IPv6 literal in brackets: how targets appear in logs
// and in CONNECT lines.
std::string hostAndPort(std::string_view host, uint16_t port);

}  // namespace fetchora

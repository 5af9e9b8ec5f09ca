#pragma once
// The FTP data connection's addresses: reading the 227 answer of PASV, and
// for active mode the listening socket with its PORT line (BuildPortCommand)
// and the accept of the server's connection.
//
// Thread: the worker thread. FtpDataListener owns its listening socket.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/byte_stream.h"

namespace fetchora {

class TcpConnection;

struct FtpHostPort {
    std::string address;  // dotted IPv4 text
    uint16_t port = 0;
};

// The six numbers of a 227 reply ("(h1,h2,h3,h4,p1,p2)", parentheses
// optional): four address bytes, then the port's high and low byte. Nothing
// when they are not six numbers of 0 to 255.
std::optional<FtpHostPort> ParsePasvReply(std::string_view line);

// "PORT h1,h2,h3,h4,p1,p2" for a dotted IPv4 address and a port; empty when
// the address is not one.
std::string FormatPortLine(std::string_view address, uint16_t port);

// The listening socket of active mode.
class FtpDataListener {
public:
    FtpDataListener() = default;
    ~FtpDataListener();
    FtpDataListener(const FtpDataListener&) = delete;
    FtpDataListener& operator=(const FtpDataListener&) = delete;

    bool listening() const { return m_socket >= 0; }
    int nativeHandle() const { return m_socket; }
    void close();

    // Takes the server's connection when one is waiting; a connection from
    // any address other than expectedPeer is closed and logged in detail.
    // Ok with connection set, TimedOut when none is waiting, Failed.
    IoResult accept(std::string_view expectedPeer, AliveCheck alive, std::unique_ptr<TcpConnection>& connection,
                    std::string& detail);

private:
    friend std::string BuildPortCommand(int controlSocket, FtpDataListener& listener);
    int m_socket = -1;
};

// Closes any earlier listening socket, makes a new one on the control
// connection's local address with a port the system chooses, listens with a
// backlog of 1, and returns the PORT line; empty on failure (also for a
// control connection that is not IPv4, which PORT cannot name).
std::string BuildPortCommand(int controlSocket, FtpDataListener& listener);

// The address of the peer of a connected socket, as text; empty when unknown.
std::string SocketPeerAddress(int socket);

}  // namespace fetchora

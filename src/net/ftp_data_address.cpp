#include "net/ftp_data_address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/socket_error.h"
#include "net/tcp_connection.h"

namespace fetchora {

namespace {

std::string addressText(const sockaddr_storage& storage)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    } else if (storage.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

std::optional<FtpHostPort> ParsePasvReply(std::string_view line)
{
    // The numbers follow the code: skip "227" and look for the first digit.
    std::size_t at = line.size() > 3 ? 3 : line.size();
    while (at < line.size() && (line[at] < '0' || line[at] > '9'))
        ++at;
    int numbers[6] = {};
    for (int index = 0; index < 6; ++index) {
        if (index > 0) {
            while (at < line.size() && line[at] == ' ')
                ++at;
            if (at >= line.size() || line[at] != ',')
                return std::nullopt;
            ++at;
            while (at < line.size() && line[at] == ' ')
                ++at;
        }
        int value = 0;
        std::size_t digits = 0;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9' && digits < 4) {
            value = value * 10 + (line[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        numbers[index] = value;
    }
    FtpHostPort result;
    result.address = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2])
        + "." + std::to_string(numbers[3]);
    result.port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    if (result.port == 0)
        return std::nullopt;
    return result;
}

std::string FormatPortLine(std::string_view address, uint16_t port)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, std::string(address).c_str(), &parsed) != 1)
        return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(&parsed.s_addr);
    return "PORT " + std::to_string(bytes[0]) + "," + std::to_string(bytes[1]) + "," + std::to_string(bytes[2]) + ","
        + std::to_string(bytes[3]) + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::string SocketPeerAddress(int socket)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (socket < 0 || ::getpeername(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return {};
    return addressText(storage);
}

FtpDataListener::~FtpDataListener()
{
    close();
}

void FtpDataListener::close()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

IoResult FtpDataListener::accept(std::string_view expectedPeer, AliveCheck alive,
                                 std::unique_ptr<TcpConnection>& connection, std::string& detail)
{
    if (m_socket < 0)
        return IoResult{IoStatus::Failed, 0, kWsaEnotconn, "No listening socket."};
    for (;;) {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        const int accepted
            = ::accept4(m_socket, reinterpret_cast<sockaddr*>(&storage), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return IoResult{IoStatus::TimedOut, 0, 0, {}};
            return IoResult{IoStatus::Failed, 0, socketErrorFromErrno(errno), {}};
        }
        const std::string peer = addressText(storage);
        if (peer != expectedPeer) {
            // Only the server may deliver the file: anyone else who finds the
            // port is turned away.
            ::close(accepted);
            detail = "A data connection from " + peer + " was refused; only " + std::string(expectedPeer)
                + " may connect.";
            continue;
        }
        connection = std::make_unique<TcpConnection>(accepted, std::move(alive));
        return IoResult{IoStatus::Ok, 0, 0, {}};
    }
}

std::string BuildPortCommand(int controlSocket, FtpDataListener& listener)
{
    listener.close();
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(controlSocket, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.ss_family != AF_INET)
        return {};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return {};
    listener.m_socket = fd;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // Bound to the control connection's own address rather than to every
    // address: the server reaches us there, nobody needs the others.
    sockaddr_in bound = *reinterpret_cast<const sockaddr_in*>(&local);
    bound.sin_port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 || ::listen(fd, 1) != 0) {
        listener.close();
        return {};
    }
    sockaddr_in chosen{};
    socklen_t chosenLength = sizeof chosen;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&chosen), &chosenLength) != 0) {
        listener.close();
        return {};
    }
    const std::string line = FormatPortLine(addressText(local), ntohs(chosen.sin_port));
    if (line.empty())
        listener.close();
    return line;
}

}  // namespace fetchora

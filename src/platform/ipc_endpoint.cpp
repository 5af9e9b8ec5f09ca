#include "platform/ipc_endpoint.h"

#include "platform/message_loop.h"
#include "platform/message_window.h"
#include "platform/text_utils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fetchora {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Deadline = SteadyClock::time_point;

constexpr uint32_t kRequestMessage = kWmUser + 1;

void appendLength(std::string& out, size_t length)
{
    const auto value = static_cast<uint32_t>(length);
    out += static_cast<char>(value >> 24);
    out += static_cast<char>(value >> 16);
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value);
}

uint32_t readLength(const unsigned char* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

int msLeft(Deadline deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

enum class Io { Done, TimedOut, Closed, Failed };

// Waits until the socket is ready for `events` or the deadline passes.
Io waitFor(int fd, short events, Deadline deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, msLeft(deadline));
        if (ready > 0)
            return Io::Done;
        if (ready == 0)
            return Io::TimedOut;
        if (errno != EINTR)
            return Io::Failed;
    }
}

Io readExact(int fd, void* buffer, size_t length, Deadline deadline)
{
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::recv(fd, out + done, length - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return Io::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Failed;
        if (Io waited = waitFor(fd, POLLIN, deadline); waited != Io::Done)
            return waited;
    }
    return Io::Done;
}

Io writeAll(int fd, std::string_view bytes, Deadline deadline)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == EPIPE || errno == ECONNRESET ? Io::Closed : Io::Failed;
        if (Io waited = waitFor(fd, POLLOUT, deadline); waited != Io::Done)
            return waited;
    }
    return Io::Done;
}

bool socketAddressFor(const std::filesystem::path& path, sockaddr_un& address)
{
    const std::string& text = path.native();
    address = {};
    address.sun_family = AF_UNIX;
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.data(), text.size());
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

}  // namespace

std::string encodeIpcRequest(std::string_view topic, std::string_view item)
{
    std::string out;
    out.reserve(8 + topic.size() + item.size());
    appendLength(out, topic.size());
    out += topic;
    appendLength(out, item.size());
    out += item;
    return out;
}

std::string encodeIpcReply(IpcStatus status, std::string_view text)
{
    std::string out;
    out.reserve(5 + text.size());
    out += static_cast<char>(status);
    appendLength(out, text.size());
    out += text;
    return out;
}

bool fitsSocketAddress(const std::filesystem::path& path)
{
    sockaddr_un address;
    return socketAddressFor(path, address);
}

// ---- server ------------------------------------------------------------------

// A request on its way from the server thread to the handler; lives on the
// server thread's stack for the duration of the send.
struct IpcServer::Pending {
    const std::string* topic = nullptr;
    const std::string* item = nullptr;
    std::optional<std::string> reply;
};

// Runs the handler on the loop thread.
class IpcServer::Window final : public MessageWindow {
public:
    Window(MessageLoop& loop, const Handler& handler) : MessageWindow(loop), m_handler(handler) { }
    ~Window() override { destroy(); }

protected:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t) override
    {
        if (msg != kRequestMessage)
            return 0;
        auto* pending = reinterpret_cast<Pending*>(wParam);
        pending->reply = m_handler(*pending->topic, *pending->item);
        return 1;
    }

private:
    const Handler& m_handler;
};

IpcServer::IpcServer(MessageLoop& loop, std::vector<std::string> topics, Handler handler)
    : m_loop(loop), m_topics(std::move(topics)), m_handler(std::move(handler))
{
}

IpcServer::~IpcServer()
{
    stop();
}

std::string ipcFaultEnglish(const IpcFault& fault)
{
    const std::string path = fault.path.string();
    const std::string why = fault.systemError != 0 ? std::strerror(fault.systemError) : "";
    const std::string number = std::to_string(fault.number);
    switch (fault.kind) {
    case IpcFaultKind::None: return {};
    case IpcFaultKind::AlreadyListening: return std::string("the service already listens at ") + path;
    case IpcFaultKind::PathTooLongToServe: return std::string("the socket path ") + path + " is longer than the " + number + " bytes a socket address holds (set XDG_RUNTIME_DIR or TMPDIR to a shorter folder)";
    case IpcFaultKind::NotASocket: return path + " exists and is not a socket; remove it if it is not needed";
    case IpcFaultKind::OtherOwnersSocket: return path + " belongs to another user; the service cannot start there";
    case IpcFaultKind::AnotherInstance: return std::string("another instance already serves ") + path;
    case IpcFaultKind::CannotCreateSocket: return std::string("cannot create a socket: ") + why;
    case IpcFaultKind::CannotBind: return std::string("cannot bind ") + path + ": " + why;
    case IpcFaultKind::CannotServe: return std::string("cannot serve at ") + path + ": " + why;
    case IpcFaultKind::CannotCreatePipe: return std::string("cannot create a pipe: ") + why;
    case IpcFaultKind::PathTooLong: return std::string("the socket path ") + path + " is too long for a socket address";
    case IpcFaultKind::RequestTooLong: return "the request is too long";
    case IpcFaultKind::NoInstance: return std::string("no instance is running (nothing listens at ") + path + ")";
    case IpcFaultKind::NotAcceptedInTime: return "the running instance did not accept the connection in time";
    case IpcFaultKind::CannotConnect: return std::string("cannot connect to ") + path + ": " + why;
    case IpcFaultKind::OtherUsersService: return std::string("the service at ") + path + " is run by another user; nothing was sent";
    case IpcFaultKind::RequestNotTaken: return "the running instance did not take the request in time";
    case IpcFaultKind::ConnectionBroke: return "the connection to the running instance broke";
    case IpcFaultKind::NoReplyInTime: return std::string("no reply from the running instance within ") + number + " ms";
    case IpcFaultKind::ClosedWithoutReply: return "the running instance closed the connection without a reply";
    case IpcFaultKind::MalformedReply: return "the running instance sent a malformed reply";
    case IpcFaultKind::ReplyCutShort: return "the reply of the running instance was cut short";
    }
    return {};
}

std::optional<std::string> IpcServer::canonicalTopic(std::string_view topic) const
{
    for (const std::string& served : m_topics) {
        if (equalsIgnoringCase(served, topic))
            return served;
    }
    return std::nullopt;
}

bool IpcServer::listen(const std::filesystem::path& socketPath, std::string& error)
{
    IpcFault fault;
    if (listen(socketPath, fault))
        return true;
    error = ipcFaultEnglish(fault);
    return false;
}

bool IpcServer::listen(const std::filesystem::path& socketPath, IpcFault& fault)
{
    const auto failed = [&](IpcFaultKind kind, int systemError = 0) {
        fault = {kind, socketPath, systemError, 0};
        return false;
    };
    if (listening()) {
        fault = {IpcFaultKind::AlreadyListening, m_path, 0, 0};
        return false;
    }
    sockaddr_un address;
    if (!socketAddressFor(socketPath, address)) {
        failed(IpcFaultKind::PathTooLongToServe);
        fault.number = static_cast<int64_t>(sizeof address.sun_path - 1);
        return false;
    }

    struct stat existing;
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            return failed(IpcFaultKind::NotASocket);
        }
        // Neither probed nor replaced: talking to it would hand a request
        // to someone else's program.
        if (existing.st_uid != ::geteuid()) {
            return failed(IpcFaultKind::OtherOwnersSocket);
        }
        IpcReply probe = ipcRequest(socketPath, "", "", std::chrono::milliseconds(200));
        if (probe.outcome != IpcReply::Outcome::NoServer) {
            return failed(IpcFaultKind::AnotherInstance);
        }
        // Left by an instance that died: nobody answers there any more.
        ::unlink(socketPath.c_str());
    }

    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (listener.get() < 0) {
        return failed(IpcFaultKind::CannotCreateSocket, errno);
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return failed(IpcFaultKind::CannotBind, errno);
    }
    struct stat bound;
    if (::chmod(socketPath.c_str(), 0600) != 0 || ::lstat(socketPath.c_str(), &bound) != 0
        || ::listen(listener.get(), SOMAXCONN) != 0) {
        const int error = errno;
        ::unlink(socketPath.c_str());
        return failed(IpcFaultKind::CannotServe, error);
    }

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        ::unlink(socketPath.c_str());
        return failed(IpcFaultKind::CannotCreatePipe, error);
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_path = socketPath;
    m_socketInode = bound.st_ino;
    m_listenFd = listener.release();
    m_window = std::make_unique<Window>(m_loop, m_handler);
    m_window->create();
    m_stopping = false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void IpcServer::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    // A request blocked in its send to the loop gets 0 and is answered
    // "no data", so the join below never waits for this (the loop) thread.
    m_window->destroy();
    const char byte = 0;
    [[maybe_unused]] ssize_t written = ::write(m_wakeWrite, &byte, 1);
    m_thread.join();
    m_window.reset();
    ::close(m_listenFd);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
    m_listenFd = m_wakeRead = m_wakeWrite = -1;
    // Only our own socket file: another instance may have replaced it.
    struct stat current;
    if (::lstat(m_path.c_str(), &current) == 0 && current.st_ino == m_socketInode && S_ISSOCK(current.st_mode))
        ::unlink(m_path.c_str());
}

namespace {

enum class Frame { Partial, Whole, Bad };

// A request as far as it has come in: topic and item once it is whole, Bad as
// soon as a length announces more than a request may hold.
Frame parseRequest(std::string_view in, std::string& topic, std::string& item)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
    if (in.size() < 4)
        return Frame::Partial;
    const uint32_t topicLength = readLength(bytes);
    if (topicLength > kMaxTopicBytes)
        return Frame::Bad;
    const size_t itemAt = 4 + size_t{topicLength};
    if (in.size() < itemAt + 4)
        return Frame::Partial;
    const uint32_t itemLength = readLength(bytes + itemAt);
    if (itemLength > kMaxItemBytes)
        return Frame::Bad;
    if (in.size() < itemAt + 4 + itemLength)
        return Frame::Partial;
    topic.assign(in.substr(4, topicLength));
    item.assign(in.substr(itemAt + 4, itemLength));
    return Frame::Whole;
}

constexpr size_t kMaxRequestBytes = 8 + kMaxTopicBytes + kMaxItemBytes;
// How long accepting pauses when the process has no descriptor left.
constexpr std::chrono::milliseconds kAcceptPause{50};

bool sameUserPeer(int connection)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer
        && peer.uid == ::geteuid();
}

}  // namespace

// One connection the server holds: reading its request until `out` is set,
// then writing `out`.
struct IpcServer::Client {
    int fd = -1;
    Deadline deadline;
    std::string in;
    std::string out;
    size_t sent = 0;
};

void IpcServer::serve()
{
    std::vector<Client> clients;
    std::vector<pollfd> entries;
    Deadline acceptPausedUntil{};
    while (!m_stopping) {
        const Deadline now = SteadyClock::now();
        const bool accepting = now >= acceptPausedUntil;
        entries.clear();
        entries.push_back({m_listenFd, static_cast<short>(accepting ? POLLIN : 0), 0});
        entries.push_back({m_wakeRead, POLLIN, 0});
        Deadline wake = accepting ? Deadline::max() : acceptPausedUntil;
        for (const Client& client : clients) {
            entries.push_back({client.fd, static_cast<short>(client.out.empty() ? POLLIN : POLLOUT), 0});
            wake = std::min(wake, client.deadline);
        }
        // Rounded up, so a deadline a fraction of a millisecond away is not
        // polled for again and again.
        const int timeout = wake == Deadline::max() ? -1 : msLeft(wake + std::chrono::milliseconds(1));
        const int ready = ::poll(entries.data(), entries.size(), timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (entries[1].revents != 0 || m_stopping)
            break;

        // Those already held first: their requests are the furthest along.
        std::vector<Client> kept;
        kept.reserve(clients.size());
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            const short events = ready > 0 ? entries[i + 2].revents : 0;
            bool open = true;
            if (events != 0)
                open = readRequest(client);
            if (open && SteadyClock::now() >= client.deadline)
                open = false;
            if (open)
                kept.push_back(std::move(client));
            else
                ::close(client.fd);
        }
        clients.swap(kept);

        if (ready <= 0 || (entries[0].revents & POLLIN) == 0)
            continue;
        for (size_t taken = 0; taken < kMaxServerClients; ++taken) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    acceptPausedUntil = SteadyClock::now() + kAcceptPause;
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                break;
            }
            // The socket file is 0600, but between bind and chmod it was not,
            // and a folder of lax modes may let others reach it: only our own
            // user is served.
            if (!sameUserPeer(fd)) {
                ::close(fd);
                continue;
            }
            if (clients.size() >= kMaxServerClients) {
                // Make room by dropping the one that has been reading longest
                // (or, when all are writing, the oldest writer).
                auto oldest = clients.end();
                for (auto it = clients.begin(); it != clients.end(); ++it) {
                    const bool better = oldest == clients.end() || (it->out.empty() && !oldest->out.empty())
                        || (it->out.empty() == oldest->out.empty() && it->deadline < oldest->deadline);
                    if (better)
                        oldest = it;
                }
                ::close(oldest->fd);
                clients.erase(oldest);
            }
            Client client;
            client.fd = fd;
            client.deadline = SteadyClock::now() + kServerIoTimeout;
            // A client usually writes its request before we get here.
            if (readRequest(client))
                clients.push_back(std::move(client));
            else
                ::close(fd);
        }
    }
    for (const Client& client : clients)
        ::close(client.fd);
}

bool IpcServer::readRequest(Client& client)
{
    if (client.out.empty()) {
        char buffer[4096];
        Frame frame = Frame::Partial;
        std::string topic;
        std::string item;
        while (frame == Frame::Partial) {
            const size_t room = std::min(sizeof buffer, kMaxRequestBytes - client.in.size());
            if (room == 0)
                return false;
            const ssize_t n = ::recv(client.fd, buffer, room, 0);
            if (n == 0)
                return false;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            client.in.append(buffer, static_cast<size_t>(n));
            frame = parseRequest(client.in, topic, item);
        }
        if (frame == Frame::Bad)
            return false;
        client.in.clear();
        client.in.shrink_to_fit();
        client.out = reply(topic, item);
        client.deadline = SteadyClock::now() + kServerIoTimeout;
    }
    while (client.sent < client.out.size()) {
        const ssize_t n
            = ::send(client.fd, client.out.data() + client.sent, client.out.size() - client.sent, MSG_NOSIGNAL);
        if (n >= 0) {
            client.sent += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    // All written: the connection is done.
    return false;
}

std::string IpcServer::reply(const std::string& topic, const std::string& item)
{
    std::optional<std::string> served = canonicalTopic(topic);
    if (!served)
        return encodeIpcReply(IpcStatus::Refused, {});
    Pending pending;
    pending.topic = &*served;
    pending.item = &item;
    const WindowId window = m_window->id();
    if (window != 0 && m_loop.send(window, kRequestMessage, reinterpret_cast<uintptr_t>(&pending)) != 0
        && pending.reply) {
        const std::string& text = *pending.reply;
        return encodeIpcReply(IpcStatus::Data, std::string_view(text).substr(0, kMaxReplyBytes));
    }
    return encodeIpcReply(IpcStatus::NoData, {});
}

// ---- client ------------------------------------------------------------------

IpcReply ipcRequest(const std::filesystem::path& socketPath, std::string_view topic, std::string_view item,
                    std::chrono::milliseconds timeout)
{
    IpcReply reply;
    const auto failed = [&](IpcFaultKind kind, int systemError = 0) {
        reply.fault = {kind, socketPath, systemError, 0};
        if (kind == IpcFaultKind::NoReplyInTime)
            reply.fault.number = timeout.count();
        reply.error = ipcFaultEnglish(reply.fault);
        return reply;
    };
    const Deadline deadline = SteadyClock::now() + timeout;
    sockaddr_un address;
    if (!socketAddressFor(socketPath, address))
        return failed(IpcFaultKind::PathTooLong);
    if (topic.size() > kMaxTopicBytes || item.size() > kMaxItemBytes)
        return failed(IpcFaultKind::RequestTooLong);
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return failed(IpcFaultKind::CannotCreateSocket, errno);
    for (;;) {
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) {
            reply.outcome = IpcReply::Outcome::NoServer;
            return failed(IpcFaultKind::NoInstance);
        }
        if (errno == EAGAIN) {
            // The server's backlog is full: try again until the deadline.
            if (msLeft(deadline) == 0)
                return failed(IpcFaultKind::NotAcceptedInTime);
            ::usleep(10000);
            continue;
        }
        return failed(IpcFaultKind::CannotConnect, errno);
    }

    // A socket planted at the path by someone else gets nothing of ours.
    if (!sameUserPeer(fd.get()))
        return failed(IpcFaultKind::OtherUsersService);

    switch (writeAll(fd.get(), encodeIpcRequest(topic, item), deadline)) {
    case Io::Done: break;
    case Io::TimedOut: return failed(IpcFaultKind::RequestNotTaken);
    default: return failed(IpcFaultKind::ConnectionBroke);
    }

    unsigned char header[5];
    switch (readExact(fd.get(), header, sizeof header, deadline)) {
    case Io::Done: break;
    case Io::TimedOut: return failed(IpcFaultKind::NoReplyInTime);
    default: return failed(IpcFaultKind::ClosedWithoutReply);
    }
    const uint32_t length = readLength(header + 1);
    if (header[0] > static_cast<uint8_t>(IpcStatus::Refused) || length > kMaxReplyBytes)
        return failed(IpcFaultKind::MalformedReply);
    std::string text(length, '\0');
    if (length > 0 && readExact(fd.get(), text.data(), length, deadline) != Io::Done)
        return failed(IpcFaultKind::ReplyCutShort);
    switch (static_cast<IpcStatus>(header[0])) {
    case IpcStatus::Data: reply.outcome = IpcReply::Outcome::Data; break;
    case IpcStatus::NoData: reply.outcome = IpcReply::Outcome::NoData; break;
    case IpcStatus::Refused: reply.outcome = IpcReply::Outcome::Refused; break;
    }
    reply.text = std::move(text);
    reply.error.clear();
    return reply;
}

}  // namespace fetchora

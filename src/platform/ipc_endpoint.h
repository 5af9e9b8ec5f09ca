#pragma once
// The program's local service endpoint: a Unix-domain stream socket through
// which a second instance, a browser helper or a script hands requests to the
// running instance. A request is a topic and an item text; the reply is a text
// or "no data".
//
// Framing (all lengths are 32-bit unsigned, most significant byte first):
//   request: topic length, topic bytes, item length, item bytes
//   reply:   one status byte (0 data, 1 no data, 2 topic refused), text
//            length, text bytes
// One request per connection; the server closes the connection after its
// reply. Topics are compared without regard to ASCII case; a topic the server
// does not serve is refused. Lengths above kMaxTopicBytes / kMaxItemBytes
// (request) or kMaxReplyBytes (reply) make the other side close the
// connection without reading further, and every connection has a deadline,
// so a client that never finishes its request cannot hold the server.
//
// Who may talk: the socket file is 0600, and both sides check the peer's
// credentials: the server serves only connections of its own user, and the
// client hands nothing to a server of another user (a socket planted at the
// path). The server reads up to kMaxServerClients requests at once; when a
// newcomer finds them all taken, the one waiting longest is dropped, so a
// flood of idle or dribbling clients delays a real request by no more than
// the time to accept it.
//
// Thread: the server accepts and reads on a thread of its own and hands each
// request to its handler on the loop thread (a MessageLoop send), so the
// handler may touch jobs like any other message handler. `listen` and `stop`
// are called on the loop thread. The server owns its socket, its thread and
// its message window; it borrows the loop. The client call blocks its caller
// for at most its timeout.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fetchora {

class MessageLoop;

// The service (and socket file) name.
inline constexpr std::string_view kServiceName = "Fetchora";

inline constexpr size_t kMaxTopicBytes = 255;
// A URL, a referrer and a comment fit easily; anything longer is not a request.
inline constexpr size_t kMaxItemBytes = 64 * 1024;
inline constexpr size_t kMaxReplyBytes = 16 * 1024 * 1024;
// How long a second instance waits for the running one.
inline constexpr std::chrono::milliseconds kHandOverTimeout{500};
// How long the server waits for a whole request, and for a client to take
// its whole reply.
inline constexpr std::chrono::milliseconds kServerIoTimeout{1000};
// Connections the server holds at once (reading a request or writing a reply).
inline constexpr size_t kMaxServerClients = 32;

enum class IpcStatus : uint8_t { Data = 0, NoData = 1, Refused = 2 };

// Why serving or a request failed, kept apart from its English words so that
// a front end can say it in the current language.
enum class IpcFaultKind : uint8_t {
    None,
    AlreadyListening,
    PathTooLongToServe,
    NotASocket,
    OtherOwnersSocket,
    AnotherInstance,
    CannotCreateSocket,
    CannotBind,
    CannotServe,
    CannotCreatePipe,
    PathTooLong,
    RequestTooLong,
    NoInstance,
    NotAcceptedInTime,
    CannotConnect,
    OtherUsersService,
    RequestNotTaken,
    ConnectionBroke,
    NoReplyInTime,
    ClosedWithoutReply,
    MalformedReply,
    ReplyCutShort,
};

struct IpcFault {
    IpcFaultKind kind = IpcFaultKind::None;
    std::filesystem::path path;  // the socket
    int systemError = 0;  // errno, where the system gave one
    int64_t number = 0;  // the bytes a socket address holds, or the milliseconds waited
};

// The fault in English, as the logs and scripts read it; empty for None.
std::string ipcFaultEnglish(const IpcFault& fault);

// The framed bytes of a request and of a reply (exposed for tests).
std::string encodeIpcRequest(std::string_view topic, std::string_view item);
std::string encodeIpcReply(IpcStatus status, std::string_view text);

// Whether the path fits a socket address (sun_path, with its terminating zero).
bool fitsSocketAddress(const std::filesystem::path& path);

class IpcServer {
public:
    // Runs on the loop thread with the topic as the server spells it (one of
    // `topics`) and the item; nothing is "no data".
    using Handler = std::function<std::optional<std::string>(const std::string& topic, const std::string& item)>;

    IpcServer(MessageLoop& loop, std::vector<std::string> topics, Handler handler);
    ~IpcServer();
    IpcServer(const IpcServer&) = delete;
    IpcServer& operator=(const IpcServer&) = delete;

    // Binds the socket (mode 0600) and starts serving. A socket file left by
    // an instance that died is replaced; a live server at the path, a path too
    // long for a socket address or any other file there is an error.
    bool listen(const std::filesystem::path& socketPath, IpcFault& fault);
    // The same with the fault in English.
    bool listen(const std::filesystem::path& socketPath, std::string& error);
    // Stops serving, waits for the server thread and removes the socket file.
    // A request waiting for the loop gets "no data". Safe to call twice.
    void stop();

    bool listening() const { return m_thread.joinable(); }
    const std::filesystem::path& socketPath() const { return m_path; }

private:
    class Window;
    struct Pending;
    struct Client;

    void serve();
    // Reads what the client has sent; true while the connection stays open.
    bool readRequest(Client& client);
    std::string reply(const std::string& topic, const std::string& item);
    std::optional<std::string> canonicalTopic(std::string_view topic) const;

    MessageLoop& m_loop;
    std::vector<std::string> m_topics;
    Handler m_handler;
    std::unique_ptr<Window> m_window;
    std::filesystem::path m_path;
    uint64_t m_socketInode = 0;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

struct IpcReply {
    enum class Outcome {
        Data,  // text holds the reply
        NoData,
        Refused,  // the server does not serve the topic
        NoServer,  // nothing listens at the path
        Failed,  // time-out, broken connection or malformed reply; fault says which
    };
    Outcome outcome = Outcome::Failed;
    std::string text;
    IpcFault fault;  // for NoServer and Failed
    std::string error;  // the fault in English
};

// Connects, sends one request and waits for its reply, all within timeout.
IpcReply ipcRequest(const std::filesystem::path& socketPath, std::string_view topic, std::string_view item,
                    std::chrono::milliseconds timeout = kHandOverTimeout);

}  // namespace fetchora

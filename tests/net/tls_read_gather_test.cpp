// A TLS read hands over every whole record already at hand, not just one, and
// never loses a record that arrives in pieces or the end that follows the
// data. The server writes its records into memory and sends their raw bytes
// in the pieces each case asks for, so the split points are exact.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_connection.h"
#include "net/tls_stream.h"

namespace fetchora {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kRecord = 16384;  // the largest record TLS carries

std::string pattern(std::size_t size, char seed)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + static_cast<char>(i % 251));
    return text;
}

// One piece of raw TLS bytes for the wire; with waitForGo the server holds
// it back until the test says go.
struct Piece {
    std::string bytes;
    bool waitForGo = false;
};

class RecordServer {
public:
    // make turns the session (with a memory BIO as its writer) into the
    // pieces to send, after the handshake and the client's request line.
    explicit RecordServer(std::function<std::vector<Piece>(SSL*, BIO*)> make) : m_make(std::move(make))
    {
        m_context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_num_tickets(m_context, 0);
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* certificate = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1,
                                   -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_sign(certificate, key, EVP_sha256());
        SSL_CTX_use_certificate(m_context, certificate);
        SSL_CTX_use_PrivateKey(m_context, key);
        X509_free(certificate);
        EVP_PKEY_free(key);

        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(m_listener, 4);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serveOne(); });
    }
    ~RecordServer()
    {
        go();
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        SSL_CTX_free(m_context);
    }
    RecordServer(const RecordServer&) = delete;
    RecordServer& operator=(const RecordServer&) = delete;

    uint16_t port() const { return m_port; }
    // Set once every piece before the first held one is in the socket.
    std::future<void> sent() { return m_sent.get_future(); }
    void go()
    {
        if (!m_went) {
            m_went = true;
            m_go.set_value();
        }
    }

private:
    void serveOne()
    {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        bool signalled = false;
        if (socket >= 0) {
            SSL* session = SSL_new(m_context);
            SSL_set_fd(session, socket);
            if (SSL_accept(session) == 1) {
                char buffer[256];
                SSL_read(session, buffer, sizeof buffer);
                BIO* memory = BIO_new(BIO_s_mem());
                SSL_set0_wbio(session, memory);
                std::future<void> go = m_go.get_future();
                for (const Piece& piece : m_make(session, memory)) {
                    if (piece.waitForGo) {
                        m_sent.set_value();
                        signalled = true;
                        go.wait();
                    }
                    ::send(socket, piece.bytes.data(), piece.bytes.size(), MSG_NOSIGNAL);
                }
            }
            SSL_free(session);
            ::close(socket);
        }
        if (!signalled)
            m_sent.set_value();
    }

    std::function<std::vector<Piece>(SSL*, BIO*)> m_make;
    SSL_CTX* m_context = nullptr;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::promise<void> m_sent;
    std::promise<void> m_go;
    bool m_went = false;
    std::thread m_thread;
};

// The raw bytes SSL_write (or SSL_shutdown) put into the memory BIO.
std::string drain(BIO* memory)
{
    std::string bytes;
    char buffer[4096];
    int got;
    while ((got = BIO_read(memory, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

std::string records(SSL* session, BIO* memory, const std::string& data)
{
    for (std::size_t at = 0; at < data.size(); at += kRecord) {
        const std::size_t length = std::min(kRecord, data.size() - at);
        SSL_write(session, data.data() + at, static_cast<int>(length));
    }
    return drain(memory);
}

class TlsReadGatherTest : public testing::Test {
protected:
    std::unique_ptr<TlsStream> open(const RecordServer& server)
    {
        TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, {});
        EXPECT_TRUE(connected.result.ok());
        if (!connected.result.ok())
            return nullptr;
        TlsStartResult started = TlsStream::start(*m_tls, std::move(connected.connection), "127.0.0.1", 3000);
        EXPECT_TRUE(started.result.ok()) << started.result.detail;
        if (started.stream) {
            EXPECT_TRUE(writeAll(*started.stream, "GET / HTTP/1.1\r\n\r\n", 3000).ok());
        }
        return std::move(started.stream);
    }

    std::unique_ptr<TlsClientContext> m_tls = TlsClientContext::create({false, {}});
    std::vector<char> m_buffer = std::vector<char>(256 * 1024);
};

TEST_F(TlsReadGatherTest, OneReadTakesEveryRecordAtHandAndTheEndComesNext)
{
    const std::string data = pattern(4 * kRecord + 1000, 'a');
    for (const bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "close_notify" : "dropped");
        RecordServer server([&](SSL* session, BIO* memory) {
            std::string wire = records(session, memory, data);
            if (closeNotify) {
                SSL_shutdown(session);
                wire += drain(memory);
            }
            // Everything goes out at once; the connection stays open until
            // the test has read, so the end is what the bytes say.
            return std::vector<Piece>{{wire}, {{}, true}};
        });
        std::future<void> sent = server.sent();
        std::unique_ptr<TlsStream> stream = open(server);
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(sent.wait_for(10s), std::future_status::ready);

        IoResult got = stream->read(m_buffer.data(), m_buffer.size(), 3000);
        ASSERT_TRUE(got.ok()) << got.detail;
        ASSERT_EQ(got.bytes, data.size());
        EXPECT_EQ(std::string(m_buffer.data(), got.bytes), data);

        server.go();
        got = stream->read(m_buffer.data(), m_buffer.size(), 3000);
        EXPECT_EQ(got.status, closeNotify ? IoStatus::Closed : IoStatus::Failed) << got.detail;
        EXPECT_EQ(got.bytes, 0u);
    }
}

TEST_F(TlsReadGatherTest, RecordSplitAcrossReadsIsNotLostOrWaitedFor)
{
    const std::string first = pattern(kRecord, 'f');
    const std::string second = pattern(kRecord, 's');
    RecordServer server([&](SSL* session, BIO* memory) {
        const std::string one = records(session, memory, first);
        const std::string two = records(session, memory, second);
        SSL_shutdown(session);
        const std::string end = drain(memory);
        // The first record and a few bytes of the second's header, then
        // (once the test has read) the rest of the second and the end.
        return std::vector<Piece>{{one + two.substr(0, 3)}, {two.substr(3, 100), true}, {two.substr(103) + end}};
    });
    std::future<void> sent = server.sent();
    std::unique_ptr<TlsStream> stream = open(server);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(sent.wait_for(10s), std::future_status::ready);

    IoResult got = stream->read(m_buffer.data(), m_buffer.size(), 3000);
    ASSERT_TRUE(got.ok()) << got.detail;
    ASSERT_EQ(got.bytes, first.size());
    EXPECT_EQ(std::string(m_buffer.data(), got.bytes), first);

    server.go();
    std::string rest;
    for (int reads = 0; reads < 10 && got.ok(); ++reads) {
        got = stream->read(m_buffer.data(), m_buffer.size(), 3000);
        if (got.ok())
            rest.append(m_buffer.data(), got.bytes);
    }
    EXPECT_EQ(rest, second);
    EXPECT_EQ(got.status, IoStatus::Closed) << got.detail;
}

}  // namespace
}  // namespace fetchora

// A TLS read hands over every whole record already at hand, not just one, and
// never loses a record that arrives in pieces or the end that follows the
// data. The server writes its records into memory and sends their raw bytes
// in the pieces each case asks for, so the split points are exact.
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "net/tcp_connection.h"
#include "net/tls_stream.h"
#include "support/tls_test_server.h"

namespace fetchora {
namespace {

using test::OneSessionTlsServer;
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
    explicit RecordServer(std::function<std::vector<Piece>(SSL*, BIO*)> make)
        : m_make(std::move(make)),
          m_server([this](SSL* session, int socket) { serve(session, socket); }, false)
    {
    }
    ~RecordServer() { go(); }
    RecordServer(const RecordServer&) = delete;
    RecordServer& operator=(const RecordServer&) = delete;

    uint16_t port() const { return m_server.port(); }
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
    void serve(SSL* session, int socket)
    {
        bool signalled = false;
        if (session != nullptr) {
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
        if (!signalled)
            m_sent.set_value();
    }

    std::function<std::vector<Piece>(SSL*, BIO*)> m_make;
    std::promise<void> m_sent;
    std::promise<void> m_go;
    bool m_went = false;
    // Last, so that its thread is joined before the members it uses go.
    OneSessionTlsServer m_server;
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
    // Connects, sends the request and waits until the server has sent every
    // piece before its first held one: the reads then see exactly those.
    std::unique_ptr<TlsStream> open(RecordServer& server)
    {
        std::future<void> sent = server.sent();
        TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, {});
        EXPECT_TRUE(connected.result.ok());
        if (!connected.result.ok())
            return nullptr;
        TlsStartResult started = TlsStream::start(*m_tls, std::move(connected.connection), "127.0.0.1", 3000);
        EXPECT_TRUE(started.result.ok()) << started.result.detail;
        if (!started.stream)
            return nullptr;
        EXPECT_TRUE(writeAll(*started.stream, "GET / HTTP/1.1\r\n\r\n", 3000).ok());
        if (sent.wait_for(10s) != std::future_status::ready) {
            ADD_FAILURE() << "the server never sent its pieces";
            return nullptr;
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
        std::unique_ptr<TlsStream> stream = open(server);
        ASSERT_NE(stream, nullptr);

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
    std::unique_ptr<TlsStream> stream = open(server);
    ASSERT_NE(stream, nullptr);

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

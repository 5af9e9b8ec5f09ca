// How a TLS session's end is read: a close_notify ends the stream in order,
// a server that just drops the connection has cut the data short. A body
// delimited only by the connection's end must therefore retry after such a
// drop, never complete the file. The server here is a scripted OpenSSL peer
// with a certificate made for the test.
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>

#include "net/fake_part_channel.h"
#include "net/http_transfer.h"
#include "net/tcp_connection.h"
#include "net/tls_stream.h"
#include "net/url.h"
#include "support/tls_test_server.h"
#include "support/worker_fixture.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using test::OneSessionTlsServer;
using namespace std::chrono_literals;

// One connection: read the request head, send the reply, then end the
// session with close_notify or drop the socket without it.
class FakeTlsServer {
public:
    FakeTlsServer(std::string reply, bool closeNotify)
        : m_reply(std::move(reply)), m_closeNotify(closeNotify), m_server([this](SSL* session, int) {
              if (session != nullptr)
                  serve(session);
          })
    {
    }

    uint16_t port() const { return m_server.port(); }
    bool replied() const { return m_replied; }

private:
    void serve(SSL* session)
    {
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = SSL_read(session, buffer, sizeof buffer);
            if (got <= 0)
                break;
            request.append(buffer, static_cast<size_t>(got));
        }
        m_replied = SSL_write(session, m_reply.data(), static_cast<int>(m_reply.size())) > 0;
        if (m_closeNotify)
            SSL_shutdown(session);
    }

    std::string m_reply;
    bool m_closeNotify;
    std::atomic<bool> m_replied{false};
    // Last, so that its thread is joined before the members it uses go.
    OneSessionTlsServer m_server;
};

const std::string kBody(30000, 'x');
const std::string kCloseDelimitedReply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + kBody;

class TlsBodyEndTest : public test::WorkerTest {
protected:
    int fetch(const FakeTlsServer& server)
    {
        m_task = workerTask("https://127.0.0.1:" + std::to_string(server.port()) + "/file.bin");
        m_task.tls = m_tls.get();
        return runWorker(HttpTransfer, m_task, 15s);
    }

    std::unique_ptr<TlsClientContext> m_tls = TlsClientContext::create({false, {}});
    // Keeps the channel that m_channel points to.
    TransferTask m_task;
};

TEST_F(TlsBodyEndTest, BodyEndedByCloseNotifyCompletesTheFile)
{
    FakeTlsServer server(kCloseDelimitedReply, true);
    EXPECT_EQ(fetch(server), 1) << m_channel->dump();
    EXPECT_EQ(m_channel->doneCount(), 1);
    EXPECT_EQ(m_channel->errors(), 0);
    EXPECT_EQ(m_channel->file(), kBody);
}

TEST_F(TlsBodyEndTest, BodyCutByADropWithoutCloseNotifyRetriesAndNeverCompletes)
{
    FakeTlsServer server(kCloseDelimitedReply, false);
    EXPECT_EQ(fetch(server), 2) << m_channel->dump();
    EXPECT_TRUE(server.replied());
    EXPECT_EQ(m_channel->doneCount(), 0);
    // The error step ran: the job window decides about the retry.
    EXPECT_EQ(m_channel->errors(), 1);
    EXPECT_TRUE(m_channel->loggedContaining("unexpected eof")) << m_channel->dump();
}

TEST_F(TlsBodyEndTest, StreamReportsADropAsAFailureAndCloseNotifyAsAnOrderlyEnd)
{
    for (const bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "close_notify" : "dropped");
        FakeTlsServer server("hello", closeNotify);
        TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, {});
        ASSERT_TRUE(connected.result.ok());
        TlsStartResult started = TlsStream::start(*m_tls, std::move(connected.connection), "127.0.0.1", 3000);
        ASSERT_TRUE(started.result.ok()) << started.result.detail;
        ASSERT_TRUE(writeAll(*started.stream, "GET / HTTP/1.1\r\n\r\n", 3000).ok());
        std::string got;
        IoResult result;
        char buffer[64];
        for (int reads = 0; reads < 100; ++reads) {
            result = started.stream->read(buffer, sizeof buffer, 3000);
            if (!result.ok())
                break;
            got.append(buffer, result.bytes);
        }
        EXPECT_EQ(got, "hello");
        EXPECT_EQ(result.status, closeNotify ? IoStatus::Closed : IoStatus::Failed) << result.detail;
        started.stream->close();
    }
}

}  // namespace
}  // namespace fetchora

// How a TLS session's end is read: a close_notify ends the stream in order,
// a server that just drops the connection has cut the data short. A body
// delimited only by the connection's end must therefore retry after such a
// drop, never complete the file. The server here is a scripted OpenSSL peer
// with a certificate made for the test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "net/fake_part_channel.h"
#include "net/http_transfer.h"
#include "net/tcp_connection.h"
#include "net/tls_stream.h"
#include "net/url.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using namespace std::chrono_literals;

// One connection: handshake, read the request head, send the reply, then end
// the session with close_notify or drop the socket without it.
class FakeTlsServer {
public:
    FakeTlsServer(std::string reply, bool closeNotify) : m_reply(std::move(reply)), m_closeNotify(closeNotify)
    {
        m_context = SSL_CTX_new(TLS_server_method());
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
    ~FakeTlsServer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        SSL_CTX_free(m_context);
    }
    FakeTlsServer(const FakeTlsServer&) = delete;
    FakeTlsServer& operator=(const FakeTlsServer&) = delete;

    uint16_t port() const { return m_port; }
    bool replied() const { return m_replied; }

private:
    void serveOne()
    {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            return;
        SSL* session = SSL_new(m_context);
        SSL_set_fd(session, socket);
        if (SSL_accept(session) == 1) {
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
        SSL_free(session);
        ::close(socket);
    }

    std::string m_reply;
    bool m_closeNotify;
    SSL_CTX* m_context = nullptr;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_replied{false};
    std::thread m_thread;
};

const std::string kBody(30000, 'x');
const std::string kCloseDelimitedReply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + kBody;

class TlsBodyEndTest : public testing::Test {
protected:
    int fetch(const FakeTlsServer& server)
    {
        auto channel = std::make_unique<FakePartChannel>();
        m_channel = channel.get();
        TransferTask task;
        task.channel = std::move(channel);
        task.url = ParseUrl("https://127.0.0.1:" + std::to_string(server.port()) + "/file.bin").value();
        task.settings.connectTimeoutMs = 3000;
        task.settings.dataTimeoutMs = 3000;
        task.settings.retryDelaySeconds = 0;
        task.tls = m_tls.get();
        auto result = std::async(std::launch::async, [&task] { return HttpTransfer(task); });
        if (result.wait_for(15s) != std::future_status::ready) {
            ADD_FAILURE() << "the worker hung\n" << m_channel->dump();
            m_channel->stop();
        }
        const int code = result.get();
        m_keep = std::move(task.channel);
        return code;
    }

    std::unique_ptr<TlsClientContext> m_tls = TlsClientContext::create({false, {}});
    FakePartChannel* m_channel = nullptr;
    std::unique_ptr<PartChannel> m_keep;
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

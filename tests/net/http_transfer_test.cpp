// The HTTP worker against scripted fake servers: the exact request bytes,
// bodies of every kind, and servers that lie, stall or send garbage. Every
// broken answer must end in a clear log line and the error step, with no
// byte handed over at a wrong offset.
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "config/proxy_entry.h"
#include "net/fake_part_channel.h"
#include "net/http_transfer.h"
#include "net/speed_limiter.h"
#include "net/url.h"
#include "support/proxy_entries.h"
#include "support/scripted_server.h"
#include "support/worker_fixture.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using test::ScriptedServer;
using test::ServerScript;
using namespace std::chrono_literals;

constexpr auto kWorkerDeadline = 15s;

std::string okHead(const std::string& extra = {})
{
    return "HTTP/1.1 200 OK\r\n" + extra + "\r\n";
}

class HttpTransferTest : public test::WorkerTest {
protected:
    // Builds the task for a URL on the server; the channel stays reachable
    // through m_channel.
    TransferTask task(const ScriptedServer& server, const std::string& path, int64_t start = 0, int64_t knownSize = -1)
    {
        return workerTask("http://" + server.host() + ":" + std::to_string(server.port()) + path, start, knownSize);
    }

    int run(TransferTask& made) { return runWorker(HttpTransfer, made, kWorkerDeadline); }

    // The common ending of a refused answer: a reason, the error step, and
    // no data at all.
    void expectRefused(int result, const std::string& reason)
    {
        EXPECT_EQ(result, 2);
        EXPECT_TRUE(m_channel->loggedContaining(reason)) << m_channel->dump();
        EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, "Error occured!")) << m_channel->dump();
        EXPECT_EQ(m_channel->errors(), 1);
        EXPECT_EQ(m_channel->file(), "");
    }
};

TEST_F(HttpTransferTest, SendsExactlyTheRequestLinesAndWritesTheBody)
{
    ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 5\r\n") + "hello"));
    TransferTask made = task(server, "/files/a.bin?v=1");
    made.referer = "http://ref.example/page";
    EXPECT_EQ(run(made), 0);  // the part is complete: the job window ended it
    EXPECT_EQ(server.received(0),
              "GET /files/a.bin?v=1 HTTP/1.1\r\n"
              "Host: 127.0.0.1:"
                  + std::to_string(server.port())
                  + "\r\n"
                    "Accept: */*\r\n"
                    "Referer: http://ref.example/page\r\n"
                    "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
                    "Connection: close\r\n"
                    "\r\n");
    EXPECT_EQ(m_channel->file(), "hello");
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Sent, "Connection: close"));
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Received, "HTTP/1.1 200 OK"));
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].size, 5);
}

TEST_F(HttpTransferTest, RangedRequestWritesAtTheServersOffset)
{
    ScriptedServer server(ServerScript().readRequestHead().send(
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-7/8\r\nContent-Length: 5\r\n\r\ndefgh"));
    TransferTask made = task(server, "/f", 3, 8);
    made.settings.userAgentChoice = 0;
    EXPECT_EQ(run(made), 0);
    const std::string request = server.received(0);
    EXPECT_NE(request.find("Accept: */*\r\nRange: bytes=3-\r\nConnection: close\r\n\r\n"), std::string::npos)
        << request;
    EXPECT_EQ(m_channel->file(), std::string(3, '\0') + "defgh");
    EXPECT_EQ(m_channel->responses()[0].resume, ResumeInfo::Honoured);
}

TEST_F(HttpTransferTest, ChunkedBodyAfterLineFeedOnlyHeadOfUnknownSize)
{
    ScriptedServer server(ServerScript().readRequestHead().send(
        "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\nLast-Modified: Sun Nov  6 08:49:37 1994\n\n"
        "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"));
    TransferTask made = task(server, "/chunks");
    EXPECT_EQ(run(made), 1);
    EXPECT_EQ(m_channel->file(), "hello world");
    EXPECT_EQ(m_channel->doneCount(), 1);
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].lastModified, "1994 Nov  6 08:49:37");
    EXPECT_EQ(m_channel->responses()[0].size, -1);
}

TEST_F(HttpTransferTest, BodyWithoutLengthEndsWithTheConnection)
{
    ScriptedServer server(ServerScript().readRequestHead().send("HTTP/1.0 200 OK\r\n\r\nsome bytes").close());
    TransferTask made = task(server, "/stream");
    EXPECT_EQ(run(made), 1);
    EXPECT_EQ(m_channel->file(), "some bytes");
    EXPECT_EQ(m_channel->doneCount(), 1);
}

TEST_F(HttpTransferTest, GiantHeaderLineIsRefused)
{
    ScriptedServer server(
        ServerScript().readRequestHead().send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(5000, 'a')).stall());
    TransferTask made = task(server, "/f");
    expectRefused(run(made), "header line longer than 4096 bytes");
}

TEST_F(HttpTransferTest, EndlessHeaderLinesAreRefused)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 400; ++i)
        head += "X-" + std::to_string(i) + ": y\r\n";
    ScriptedServer server(ServerScript().readRequestHead().send(head).stall());
    TransferTask made = task(server, "/f");
    expectRefused(run(made), "header lines");
}

TEST_F(HttpTransferTest, BrokenNumbersAreRefused)
{
    const std::pair<std::string, std::string> cases[] = {
        {okHead("Content-Length: -20\r\n") + "data", "bad Content-Length"},
        {okHead("Content-Length: 184467440737095516160\r\n") + "data", "bad Content-Length"},
        {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-18446744073709551616/5\r\n\r\ndata", "bad Content-Range"},
        {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-99/10\r\n\r\ndata", "beyond the end of the file"},
        {okHead("Transfer-Encoding: chunked\r\n") + "zz\r\ndata\r\n", "bad chunk size"},
        {okHead("Transfer-Encoding: chunked\r\n") + "FFFFFFFFFFFFFFFFFFFF\r\ndata\r\n", "chunk size that does not fit"},
    };
    for (const auto& [answer, reason] : cases) {
        SCOPED_TRACE(reason);
        ScriptedServer server(ServerScript().readRequestHead().send(answer).stall());
        TransferTask made = task(server, "/f");
        expectRefused(run(made), reason);
    }
}

TEST_F(HttpTransferTest, ErrorAnswerBodyIsNeverData)
{
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        ScriptedServer server(
            ServerScript().readRequestHead().send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"));
        TransferTask made = task(server, "/missing");
        m_channel->responseAnswer = answer;
        const int result = run(made);
        EXPECT_EQ(m_channel->file(), "");
        EXPECT_EQ(m_channel->blocks(), 0);
        ASSERT_EQ(m_channel->responses().size(), 1u);
        EXPECT_EQ(m_channel->responses()[0].outcome, ResponseOutcome::NotFound);
        // A non-zero answer to a failure means: take the error step.
        EXPECT_EQ(m_channel->errors(), answer);
        EXPECT_EQ(result, answer == 0 ? 0 : 2);
    }
}

TEST_F(HttpTransferTest, RedirectIsReportedAndItsBodyDropped)
{
    ScriptedServer server(
        ServerScript().readRequestHead().send("HTTP/1.1 302 Found\r\nLocation: ../other/f.zip\r\nSet-Cookie: sid=7; "
                                              "Path=/\r\nContent-Length: 4\r\n\r\nbody"));
    TransferTask made = task(server, "/a/b/f.zip");
    m_channel->responseAnswer = 0;
    EXPECT_EQ(run(made), 0);
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].outcome, ResponseOutcome::Redirect);
    EXPECT_EQ(m_channel->responses()[0].location, "../other/f.zip");
    EXPECT_EQ(m_channel->responses()[0].cookie, "sid=7");
    EXPECT_EQ(m_channel->file(), "");
}

TEST_F(HttpTransferTest, DataFromAnotherOffsetIsNeverWrittenAndDoesNotLoop)
{
    const std::pair<std::string, std::string> cases[] = {
        {"HTTP/1.1 206 P\r\nContent-Range: bytes 2000-2009/5000\r\nContent-Length: 10\r\n\r\n0123456789",
         "The server sent the data from byte 2000, not from byte 1000 as asked."},
        {okHead("Content-Length: 5000\r\n") + std::string(5000, 'z'),
         "The server sent the data from byte 0, not from byte 1000 as asked."},
    };
    for (const auto& [answer, reason] : cases) {
        SCOPED_TRACE(reason);
        ScriptedServer server(ServerScript().readRequestHead().send(answer).stall());
        TransferTask made = task(server, "/f", 1000, 5000);
        expectRefused(run(made), reason);
        EXPECT_GE(m_channel->refused(), 1);
        EXPECT_EQ(m_channel->position(), 1000);
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

TEST_F(HttpTransferTest, ShortBodyTakesTheErrorStepAndTheRetryResumes)
{
    const std::string body = "0123456789";
    ScriptedServer server(
        {ServerScript().readRequestHead().send(okHead("Content-Length: 10\r\n") + body.substr(0, 4)).close(),
         ServerScript().readRequestHead().send(
             "HTTP/1.1 206 P\r\nContent-Range: bytes 4-9/10\r\nContent-Length: 6\r\n\r\n" + body.substr(4))});
    TransferTask made = task(server, "/f");
    m_channel->retriesAllowed = 1;
    EXPECT_EQ(run(made), 0);
    EXPECT_TRUE(m_channel->loggedContaining("The connection closed after 4 of 10 bytes.")) << m_channel->dump();
    EXPECT_EQ(m_channel->errors(), 1);
    EXPECT_EQ(m_channel->file(), body);
    EXPECT_NE(server.received(1).find("\r\nRange: bytes=4-\r\n"), std::string::npos) << server.received(1);
}

TEST_F(HttpTransferTest, PartWithNothingLeftOpensNoConnection)
{
    // From the start: not even a connection.
    {
        ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 10\r\n") + "0123456789"));
        TransferTask made = task(server, "/f", 5000, 20000);
        m_channel->nothingLeft = true;
        EXPECT_EQ(run(made), 0);
        EXPECT_EQ(server.connectionCount(), 0u);
        EXPECT_TRUE(m_channel->responses().empty());
    }
    // After a failed connection whose retry finds the range gone: the retry
    // is not made, so no request without the range ever goes out.
    const std::string body = "0123456789";
    ScriptedServer server(
        {ServerScript().readRequestHead().send(okHead("Content-Length: 10\r\n") + body.substr(0, 4)).close(),
         ServerScript().readRequestHead().send(okHead("Content-Length: 10\r\n") + body)});
    TransferTask made = task(server, "/f");
    m_channel->retriesAllowed = 1;
    m_channel->nothingLeftAfterError = true;
    EXPECT_EQ(run(made), 0);
    EXPECT_EQ(m_channel->errors(), 1);
    EXPECT_TRUE(server.waitUntilFinished(0));
    EXPECT_EQ(server.connectionCount(), 1u);
    EXPECT_EQ(m_channel->responses().size(), 1u);
}

TEST_F(HttpTransferTest, SilentServerTimesOut)
{
    ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 10\r\n") + "ab").stall());
    TransferTask made = task(server, "/f");
    made.settings.dataTimeoutMs = 200;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run(made), 2);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, "Time out.")) << m_channel->dump();
    // Resumable: twice the data time-out, not much more.
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(m_channel->file(), "ab");
}

TEST_F(HttpTransferTest, StopEndsTheWorkerQuicklyAndQuietly)
{
    ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 100\r\n") + "ab").stall());
    TransferTask made = task(server, "/f");
    auto result = std::async(std::launch::async, [&made] { return HttpTransfer(made); });
    while (m_channel->blocks() == 0)
        std::this_thread::sleep_for(5ms);
    const auto stopped = std::chrono::steady_clock::now();
    m_channel->stop();
    ASSERT_EQ(result.wait_for(2s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 400ms);
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(m_channel->loggedContaining("Error occured!")) << m_channel->dump();
}

TEST_F(HttpTransferTest, PartStartedAgainAfterAFailureWaitsTheRetryDelayFirst)
{
    ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 2\r\n") + "ok"));
    TransferTask made = task(server, "/f");
    made.isRetry = true;
    made.settings.retryDelaySeconds = 1;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run(made), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - began, 950ms);
    EXPECT_EQ(m_channel->file(), "ok");

    // A stop during the wait ends the worker before it connects.
    ScriptedServer unused(ServerScript().readRequestHead());
    TransferTask stopped = task(unused, "/f");
    stopped.isRetry = true;
    stopped.settings.retryDelaySeconds = 30;
    auto result = std::async(std::launch::async, [&stopped] { return HttpTransfer(stopped); });
    std::this_thread::sleep_for(150ms);
    m_channel->stop();
    ASSERT_EQ(result.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(unused.connectionCount(), 0u);
}

ProxyEntry fakeHttpProxy(const ScriptedServer& server)
{
    return test::proxyEntry(kProxyHttpGet, server.host(), server.port(), 0);
}

TEST_F(HttpTransferTest, ThroughAProxyTheLastBytesWaitForTheBodysEnd)
{
    std::string body(5000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    ScriptedServer proxy(
        ServerScript().readRequestHead().send(okHead("Content-Length: 5000\r\n")).pause(50).send(body));
    TransferTask made = task(proxy, "/f");
    made.url = ParseUrl("http://files.test/dir/f.bin").value();
    made.proxy = fakeHttpProxy(proxy);
    made.settings.rollback = 2048;
    EXPECT_EQ(run(made), 0);
    EXPECT_TRUE(proxy.received(0).starts_with("GET http://files.test/dir/f.bin HTTP/1.1\r\nHost: files.test\r\n"))
        << proxy.received(0);
    EXPECT_EQ(m_channel->file(), body);

    // The proxy loses the server: the bytes before the cut are not trusted.
    ScriptedServer cut(
        ServerScript().readRequestHead().send(okHead("Content-Length: 5000\r\n") + body.substr(0, 3000)).close());
    TransferTask again = task(cut, "/f");
    again.url = ParseUrl("http://files.test/dir/f.bin").value();
    again.proxy = fakeHttpProxy(cut);
    again.settings.rollback = 2048;
    EXPECT_EQ(run(again), 2);
    EXPECT_EQ(m_channel->file(), body.substr(0, 3000 - 2048));
}

TEST_F(HttpTransferTest, ManualSpeedLimitPacesTheReads)
{
    const std::string body(12000, 'x');
    ScriptedServer server(ServerScript().readRequestHead().send(okHead("Content-Length: 12000\r\n") + body));
    SystemClock clock;
    SpeedLimiter limiter(clock, nullptr, SpeedSettings{8000, 187500, 15000});
    limiter.setMode(SpeedMode::Manual);
    TransferTask made = task(server, "/f");
    made.limiter = &limiter;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run(made), 0);
    EXPECT_EQ(m_channel->file(), body);
    // 8000 bytes a second: the last bytes wait for the second window.
    EXPECT_GE(std::chrono::steady_clock::now() - began, 900ms);
}

}  // namespace
}  // namespace fetchora

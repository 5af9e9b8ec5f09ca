// The HTTP worker against nginx on 127.0.0.1: whole files and ranges over
// HTTP and HTTPS, directly and through tinyproxy (plain proxy and CONNECT),
// with the bytes written compared with the served file.
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "config/proxy_entry.h"
#include "net/fake_part_channel.h"
#include "net/http_transfer.h"
#include "net/tls_stream.h"
#include "net/url.h"
#include "support/proxy_entries.h"
#include "support/real_peers.h"
#include "support/worker_fixture.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using test::kSmallFileText;
using test::NginxPeer;
using test::TinyproxyPeer;
using namespace std::chrono_literals;

std::string randomBytes(std::size_t count)
{
    std::mt19937 generator(20240229);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

class HttpTransferReal : public test::WorkerTest {
protected:
    void SetUp() override
    {
        m_nginx = std::make_unique<NginxPeer>();
        TlsSettings settings;
        settings.extraCaFile = m_nginx->certificateFile().string();
        std::string error;
        m_tls = TlsClientContext::create(settings, &error);
        ASSERT_NE(m_tls, nullptr) << error;
    }

    // Fetches a served path from start on; the file the fake job window
    // wrote is returned.
    std::string fetch(const std::string& path, bool tls, int64_t start = 0, int64_t knownSize = -1,
                      std::optional<ProxyEntry> proxy = {}, int* result = nullptr)
    {
        const uint16_t port = tls ? m_nginx->httpsPort() : m_nginx->httpPort();
        // Kept until the next fetch: the channel is the task's.
        m_task = workerTask(std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + path, start,
                            knownSize, 5000);
        m_task.proxy = std::move(proxy);
        m_task.tls = m_tls.get();
        const int ended = runWorker(HttpTransfer, m_task, 30s);
        if (result)
            *result = ended;
        return m_channel->file();
    }

    static ProxyEntry tinyproxy(uint16_t type, uint16_t port)
    {
        return test::proxyEntry(type, "127.0.0.1", port, 0);
    }

    std::unique_ptr<NginxPeer> m_nginx;
    std::unique_ptr<TlsClientContext> m_tls;
    TransferTask m_task;
};

TEST_F(HttpTransferReal, SmallFileOverHttpAndHttps)
{
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        int result = -1;
        EXPECT_EQ(fetch("/files/small.txt", tls, 0, -1, {}, &result), kSmallFileText) << m_channel->dump();
        EXPECT_EQ(result, 0);
        ASSERT_EQ(m_channel->responses().size(), 1u);
        const ResponseInfo info = m_channel->responses()[0];
        EXPECT_EQ(info.outcome, ResponseOutcome::Success);
        EXPECT_EQ(info.size, 36);
        EXPECT_EQ(info.resume, ResumeInfo::Honoured);
        EXPECT_FALSE(info.lastModified.empty());
        EXPECT_EQ(m_channel->errors(), 0);
    }
}

TEST_F(HttpTransferReal, RangeFromTheMiddleLandsAtItsOffset)
{
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        const std::string file = fetch("/files/small.txt", tls, 10, 36);
        EXPECT_EQ(file, std::string(10, '\0') + std::string(kSmallFileText).substr(10)) << m_channel->dump();
        EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Sent, "Range: bytes=10-"));
        EXPECT_EQ(m_channel->responses()[0].size, 36);
    }
}

TEST_F(HttpTransferReal, LargeFileDirectAndThroughTinyproxy)
{
    const std::string bytes = randomBytes(3 * 1024 * 1024 + 17);
    m_nginx->writeServedFile("files/large.bin", bytes);
    TinyproxyPeer proxy;
    EXPECT_TRUE(fetch("/files/large.bin", false) == bytes) << m_channel->dump();
    EXPECT_TRUE(fetch("/files/large.bin", true) == bytes) << m_channel->dump();
    // Plain proxy for HTTP (with the hold-back), CONNECT tunnel for HTTPS.
    EXPECT_TRUE(fetch("/files/large.bin", false, 0, -1, tinyproxy(kProxyHttpGet, proxy.port())) == bytes)
        << m_channel->dump();
    EXPECT_TRUE(fetch("/files/large.bin", true, 0, -1, tinyproxy(kProxyHttpGet, proxy.port())) == bytes)
        << m_channel->dump();
    EXPECT_TRUE(fetch("/files/large.bin", true, 0, -1, tinyproxy(kProxyHttpConnect, proxy.port())) == bytes)
        << m_channel->dump();
}

TEST_F(HttpTransferReal, MissingFileIsReportedWithoutData)
{
    int result = -1;
    EXPECT_EQ(fetch("/files/none.bin", true, 0, -1, {}, &result), "");
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].outcome, ResponseOutcome::NotFound);
    EXPECT_EQ(m_channel->blocks(), 0);
}

}  // namespace
}  // namespace fetchora

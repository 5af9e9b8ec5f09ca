// The RTSP worker against a fake server: the request sequence of both server
// kinds, the saved ASF file, a resume with its Range, the logins, a refused
// description, a server request answered 451, the RealMedia subscription
// and file, and the RTP splitting of ASF packets.
#include "engine/asf_test_files.h"
#include "engine/rtsp_worker.h"
#include "engine/sdp.h"
#include "net/fake_part_channel.h"
#include "net/url.h"
#include "support/fake_rtsp_server.h"
#include "support/scoped_language.h"
#include "support/worker_fixture.h"

#include <gtest/gtest.h>

#include <future>

namespace fetchora {
namespace {

using test::AsfSpec;
using test::FakePartChannel;
using test::FakeRtspOptions;
using test::FakeRtspServer;

class RtspWorkerTest : public test::WorkerTest {
protected:
    TransferTask task(const FakeRtspServer& server, int64_t start = 0, int64_t knownSize = -1,
                      const std::string& userInfo = "")
    {
        std::string url = server.url();
        url.insert(7, userInfo);
        return workerTask(url, start, knownSize);
    }

    int run(TransferTask& made) { return runWorker(RtspTransfer, made, std::chrono::seconds(20)); }
};

bool has(const std::string& request, const std::string& line)
{
    return request.find(line + "\r\n") != std::string::npos;
}

TEST_F(RtspWorkerTest, AWindowsMediaStreamIsSavedAsItsAsfFile)
{
    const std::vector<uint8_t> file = test::asfFile({});
    FakeRtspServer server({.asf = file});
    TransferTask made = task(server);
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), test::text(file));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 5u) << m_channel->dump();
    EXPECT_EQ(requests[0].rfind("OPTIONS rtsp://127.0.0.1:", 0), 0u);
    EXPECT_TRUE(has(requests[0], "CSeq: 1"));
    EXPECT_EQ(requests[1].rfind("DESCRIBE " + server.url() + " RTSP/1.0\r\n", 0), 0u) << requests[1];
    EXPECT_TRUE(has(requests[1], "CSeq: 2"));
    EXPECT_TRUE(has(requests[1], "X-Accept-Authentication: NTLM, Basic"));
    EXPECT_FALSE(has(requests[1], "Bandwidth: 10485800"));
    EXPECT_EQ(requests[2].rfind("SETUP " + server.url() + "/audio RTSP/1.0", 0), 0u) << requests[2];
    EXPECT_TRUE(has(requests[2], "Transport: RTP/AVP/TCP;unicast;interleaved=0-1;mode=PLAY"));
    EXPECT_TRUE(has(requests[3], "CSeq: 4"));
    EXPECT_TRUE(has(requests[3], "Session: 4242"));
    EXPECT_TRUE(has(requests[3], "Transport: RTP/AVP/TCP;unicast;interleaved=2-3;mode=PLAY"));
    EXPECT_EQ(requests[4].rfind("PLAY ", 0), 0u);
    EXPECT_TRUE(has(requests[4], "CSeq: 5"));
    EXPECT_EQ(requests[4].find("Range:"), std::string::npos);
    EXPECT_TRUE(m_channel->loggedContaining("Total Packets: 20 Packet Length: 400 Packet Length2: 400"));
}

TEST_F(RtspWorkerTest, ACutStreamResumesWithARangeToTheSameFile)
{
    const std::vector<uint8_t> file = test::asfFile({});
    FakeRtspServer server({.asf = file, .cutAfterPackets = 10});
    TransferTask made = task(server);
    m_channel->retriesAllowed = 1;
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), test::text(file));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_TRUE(has(requests[5], "CSeq: 1"));  // a new connection counts again
    EXPECT_TRUE(has(requests[9], "Range: npt=1.000-")) << requests[9];
}

TEST_F(RtspWorkerTest, ServerRequestsAreAnswered451)
{
    FakeRtspServer server({.asf = test::asfFile({}), .askFirst = true});
    TransferTask made = task(server);
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(server.answerToServerRequest(), "RTSP/1.0 451 Parameter Not Understood\r\nCSeq: 91\r\n\r\n");
    EXPECT_EQ(m_channel->file(), test::text(test::asfFile({})));
}

TEST_F(RtspWorkerTest, LoginsBasicRn5AndNtlm)
{
    for (const char* scheme : {"Basic", "RN5", "NTLM"}) {
        FakeRtspServer server({.asf = test::asfFile({}), .auth = scheme});
        TransferTask made = task(server, 0, -1, "ann:pw@");
        const int result = run(made);
        const std::vector<std::string> requests = server.requests();
        std::size_t describes = 0;
        for (const std::string& request : requests)
            describes += request.rfind("DESCRIBE", 0) == 0;
        if (std::string(scheme) == "NTLM" && m_channel->loggedContaining("NTLM answer could not be computed"))
            continue;  // no MD4/DES in this system's crypto library
        EXPECT_EQ(result, 0) << scheme << "\n" << m_channel->dump();
        EXPECT_EQ(describes, std::string(scheme) == "NTLM" ? 3u : 2u) << scheme;
        EXPECT_EQ(m_channel->file(), test::text(test::asfFile({}))) << scheme;
    }
}

TEST_F(RtspWorkerTest, ARefusedDescriptionRefusesTheUrl)
{
    FakeRtspServer server({.asf = test::asfFile({}), .describeStatus = 404});
    TransferTask made = task(server);
    EXPECT_EQ(run(made), 0);
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].outcome, ResponseOutcome::NotFound);
    EXPECT_EQ(m_channel->file(), "");
    EXPECT_EQ(m_channel->errors(), 0);
}

TEST_F(RtspWorkerTest, ARealMediaStreamIsSubscribedAndRecorded)
{
    const std::string sdp = "m=audio 0 RTP/AVP 101\r\na=control:streamid=0\r\n"
                            "a=ASMRuleBook:string;\"#($Bandwidth >= 20000), AverageBandwidth=20000;"
                            "#($Bandwidth < 20000);\"\r\n"
                            "a=mimetype:string;\"audio/x-pn-realaudio\"\r\n"
                            "m=video 0 RTP/AVP 101\r\na=control:streamid=1\r\n";
    FakeRtspServer server({.windowsMedia = false, .realSdp = sdp, .realFrames = {"first", std::string(300, 'v')}});
    TransferTask made = task(server);
    EXPECT_EQ(run(made), 1) << m_channel->dump();
    EXPECT_EQ(m_channel->doneCount(), 1);
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 6u) << m_channel->dump();
    EXPECT_TRUE(has(requests[1], "Bandwidth: 10485800"));
    EXPECT_TRUE(has(requests[1], "Require: com.real.retain-entity-for-setup"));
    EXPECT_TRUE(has(requests[1], "Session: 777"));
    EXPECT_NE(requests[2].find("RealChallenge2: "), std::string::npos);
    EXPECT_TRUE(has(requests[2], "Transport: x-pn-tng/tcp;mode=play"));
    EXPECT_EQ(requests[4].rfind("SET_PARAMETER ", 0), 0u);
    EXPECT_TRUE(has(requests[4], "Subscribe: stream=0;rule=0,stream=1;rule=0")) << requests[4];

    // The file: our header from the description, then one record per frame.
    const SdpDescription parsed = ParseSdp(sdp);
    const std::vector<uint8_t> header = RealMediaFileHeader(parsed);
    const std::string saved = m_channel->file();
    ASSERT_EQ(saved.size(), header.size() + 4 + 5 + 4 + 300);
    EXPECT_EQ(saved.substr(0, 4), "FRTS");
    EXPECT_EQ(saved.substr(header.size(), 9), std::string("\0\0\0\x05", 4) + "first");
    EXPECT_EQ(saved.substr(header.size() + 9, 4), std::string("\0\0\x01\x2C", 4));
}

TEST(RtspSubscription, RuleBooksChooseTheRules)
{
    SdpDescription sdp;
    sdp.streams.resize(3);
    sdp.streams[0].streamNumber = 0;
    sdp.streams[0].ruleBook = "#$Bandwidth < 20000;#$Bandwidth >= 20000;AverageBandwidth=5;";
    sdp.streams[1].streamNumber = 1;
    sdp.streams[1].ruleBook = "#$Unknown > 1;";  // cannot be evaluated: rule 0
    sdp.streams[2].streamNumber = 2;
    EXPECT_EQ(RtspSubscription(sdp), "stream=0;rule=1,stream=0;rule=2,stream=1;rule=0,stream=2;rule=0");
}

TEST(AsfRtp, WholePacketsAndFragments)
{
    const std::vector<uint8_t> head = {0x80, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
    std::vector<uint8_t> rtp = head;
    // Two whole packets of 3 and 2 bytes, the second with a timestamp field.
    for (uint8_t b : std::initializer_list<uint8_t>{0x40, 0, 0, 7, 'a', 'b', 'c', 0x60, 0, 0, 10, 9, 9, 9, 9, 'd', 'e'})
        rtp.push_back(b);
    std::vector<uint8_t> assembly;
    std::vector<std::vector<uint8_t>> packets;
    ASSERT_TRUE(SplitAsfRtp(rtp, assembly, packets, 100));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(packets[1], (std::vector<uint8_t>{'d', 'e'}));

    // A packet in two fragments; the marker bit ends it.
    packets.clear();
    std::vector<uint8_t> first = head;
    for (uint8_t b : std::initializer_list<uint8_t>{0x00, 0, 0, 0, 'x', 'y'})
        first.push_back(b);
    std::vector<uint8_t> second = head;
    second[1] |= 0x80;
    for (uint8_t b : std::initializer_list<uint8_t>{0x00, 0, 0, 2, 'z'})
        second.push_back(b);
    ASSERT_TRUE(SplitAsfRtp(first, assembly, packets, 100));
    EXPECT_TRUE(packets.empty());
    ASSERT_TRUE(SplitAsfRtp(second, assembly, packets, 100));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (std::vector<uint8_t>{'x', 'y', 'z'}));

    // Lengths that run past the packet, or past the limit.
    std::vector<uint8_t> lying = head;
    for (uint8_t b : std::initializer_list<uint8_t>{0x40, 0, 1, 0, 'a'})
        lying.push_back(b);
    EXPECT_FALSE(SplitAsfRtp(lying, assembly, packets, 100));
    EXPECT_FALSE(SplitAsfRtp(std::vector<uint8_t>{0x40, 0, 0}, assembly, packets, 100));
}

TEST_F(RtspWorkerTest, HostileDataEndsTheCycleWithoutGrowingTheFile)
{
    const AsfSpec spec;
    const std::string header = test::text(test::asfHeader(spec));
    struct Case {
        std::string raw;
        std::string line;
    };
    // An RTP packet whose ASF payload claims more bytes than it holds, one
    // longer than the packet length, bytes that are nothing RTSP knows, and
    // a frame that is not RTP.
    std::string lying = std::string("$\0\0\x14", 4) + std::string("\x80\x60\0\1\0\0\0\0\0\0\0\1", 12)
        + std::string("\x40\0\x10\0abcd", 8);
    std::string longer = std::string("$\0\x01\xA1", 4) + std::string("\x80\x60\0\1\0\0\0\0\0\0\0\1", 12)
        + std::string("\x40\0\x01\x95", 4) + std::string(401, 'p');
    const Case cases[] = {
        {lying, "The server sent a data frame that is no ASF packet."},
        {longer, "WARNING! buffer pointer 1 bytes after packet!\n"},
        {"HTTP/1.0 200 OK\r\n\r\n", "The server sent bytes that are neither an answer nor a data frame."},
        {std::string("$\0\0\x03" "abc", 7), "The server sent a data frame that is no ASF packet."},
    };
    for (const Case& c : cases) {
        FakeRtspServer server({.asf = test::asfFile(spec), .rawAfterPlay = c.raw});
        TransferTask made = task(server);
        EXPECT_EQ(run(made), 2) << c.line;
        EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, c.line)) << m_channel->dump();
        EXPECT_EQ(m_channel->file(), header) << c.line;
    }
}

TEST_F(RtspWorkerTest, AnOversizedDescriptionIsRefusedBeforeItIsRead)
{
    FakeRtspServer server({.asf = test::asfFile({}), .describeExtra = "Content-Length: 99999999\r\n"});
    TransferTask made = task(server);
    EXPECT_EQ(run(made), 2);
    EXPECT_TRUE(m_channel->loggedContaining("The server announced a description of 99999999 bytes."))
        << m_channel->dump();
    EXPECT_EQ(m_channel->file(), "");
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

// A German run: the log lines and the causes a retried cycle leaves for the
// job's failure line are made in the current language.
TEST_F(RtspWorkerTest, TheLogAndTheCausesAreInTheCurrentLanguage)
{
    test::ScopedLanguage german("41739=Pakete: %d, L\xC3\xA4nge: %d/%d\n"
                                "41742=Der Server k\xC3\xBCndigte eine Beschreibung von %1 Bytes an.\n"
                                "41743=Der Server sandte weder eine Antwort noch einen Datenrahmen.\n");
    {
        FakeRtspServer server({.asf = test::asfFile({}), .rawAfterPlay = "HTTP/1.0 200 OK\r\n\r\n"});
        TransferTask made = task(server);
        EXPECT_EQ(run(made), 2);
        const std::string cause = "Der Server sandte weder eine Antwort noch einen Datenrahmen.";
        EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, cause)) << m_channel->dump();
        ASSERT_EQ(m_channel->failures().size(), 1u);
        EXPECT_EQ(m_channel->failures()[0].cause, cause);
        EXPECT_TRUE(m_channel->loggedContaining("Pakete: 20, L\xC3\xA4nge: 400/400")) << m_channel->dump();
    }
    {
        FakeRtspServer server({.asf = test::asfFile({}), .describeExtra = "Content-Length: 99999999\r\n"});
        TransferTask made = task(server);
        EXPECT_EQ(run(made), 2);
        const std::string cause = "Der Server k\xC3\xBCndigte eine Beschreibung von 99999999 Bytes an.";
        ASSERT_EQ(m_channel->failures().size(), 1u);
        EXPECT_EQ(m_channel->failures()[0].cause, cause);
    }
}

}  // namespace
}  // namespace fetchora

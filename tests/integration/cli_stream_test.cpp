// Stream URLs through fetchora-cli like any other: an on-demand MMS stream
// saved whole, a live one recorded until the user stops the program (and,
// with ffmpeg installed, read back by ffprobe), and pnm:// refused with a
// message that says why.
#include "engine/asf_test_files.h"
#include "support/cli_process.h"
#include "support/fake_mms_server.h"
#include "support/fake_rtsp_server.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace fetchora {
namespace {

using test::FakeMmsServer;

class CliStream : public testing::Test {
public:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
    }

    std::map<std::string, std::string> environment() const
    {
        return test::ownProfileEnvironment(m_dir.path());
    }

    std::vector<std::string> arguments(const std::string& url) const
    {
        return {"-d", (m_dir / "out").string(), "-q", url};
    }

    // The one file in the output folder that is not a temporary one.
    std::filesystem::path savedFile() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_dir / "out")) {
            if (entry.path().extension() != ".kx!")
                return entry.path();
        }
        return {};
    }

public:
    const std::filesystem::path& folder() const { return m_dir.path(); }

protected:
    test::TempDir m_dir;
};

std::string output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

TEST_F(CliStream, AnOnDemandMmsStreamIsSaved)
{
    const std::vector<uint8_t> file = test::asfFile({});
    FakeMmsServer server({.asf = file});
    std::string err;
    const int code = test::runCli(arguments(server.url("/show/clip.asf")), environment(), m_dir.path(), &err);
    ASSERT_EQ(code, 0) << err;
    EXPECT_EQ(test::readFile(m_dir / "out" / "clip.asf"), test::text(file));
}

TEST_F(CliStream, AnRtspStreamIsSaved)
{
    const std::vector<uint8_t> file = test::asfFile({});
    test::FakeRtspServer server({.asf = file});
    std::string err;
    const int code = test::runCli(arguments(server.url("/show/talk.asf")), environment(), m_dir.path(), &err);
    ASSERT_EQ(code, 0) << err;
    EXPECT_EQ(test::readFile(m_dir / "out" / "talk.asf"), test::text(file));
}

TEST_F(CliStream, PnmIsRefusedWithItsOwnMessage)
{
    std::string err;
    const int code = test::runCli(arguments("pnm://127.0.0.1:1/a.rm"), environment(), m_dir.path(), &err);
    EXPECT_NE(code, 0);
    EXPECT_NE(err.find("pnm:// streams cannot be captured: pnm://127.0.0.1:1/a.rm"), std::string::npos) << err;
}

// Serves an ffmpeg-made ASF file marked as a broadcast over MMS or RTSP,
// paced like a live source, stops the program after three seconds and reads
// the recording back with ffprobe.
void recordLive(CliStream& test, bool rtsp);

TEST_F(CliStream, ALiveRecordingStoppedByTheUserIsAFileFfprobeReads)
{
    recordLive(*this, false);
}

TEST_F(CliStream, ALiveRtspRecordingStoppedByTheUserHoldsThePacketsReceived)
{
    recordLive(*this, true);
}

std::string probePackets(const std::filesystem::path& file)
{
    return output("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + file.string()
                  + "'");
}

void recordLive(CliStream& test, bool rtsp)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::filesystem::path source = test.folder() / "live.asf";
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=10:size=160x120:rate=10 -f lavfi "
                             "-i sine=duration=10 -c:v wmv2 -c:a wmav2 -f asf '"
        + source.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::ifstream in(source, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A broadcast: flag 0x1 of the file properties (88 bytes into the object).
    const uint8_t properties[]
        = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const auto found = std::search(file.begin(), file.end(), std::begin(properties), std::end(properties));
    ASSERT_NE(found, file.end());
    const uint8_t seekable = found[88];
    found[88] = 0x01;

    std::optional<FakeMmsServer> mms;
    std::optional<test::FakeRtspServer> rtspServer;
    std::string url;
    if (rtsp) {
        rtspServer.emplace(test::FakeRtspOptions{.asf = file, .packetDelayMs = 50});
        url = rtspServer->url("/live/tv");
    } else {
        mms.emplace(test::FakeMmsOptions{.asf = file, .live = true, .liveFirstLocation = 777, .packetDelayMs = 50});
        url = mms->url("/live/tv");
    }
    test::CliProcess cli(test.arguments(url), test.environment(), test.folder());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    cli.signal(SIGINT);
    // An interrupted run says so in its exit code; the recording is kept.
    ASSERT_EQ(cli.wait(std::chrono::seconds(30)), 1) << cli.standardError();

    const std::filesystem::path saved = test.savedFile();
    ASSERT_FALSE(saved.empty());
    const std::string probe
        = output("ffprobe -v error -count_packets -show_entries format=duration:stream=nb_read_packets "
                 "-of default=nw=1 '"
                 + saved.string() + "'");
    std::printf("ffprobe of the live recording over %s (%ju bytes):\n%s", rtsp ? "RTSP" : "MMS",
                static_cast<uintmax_t>(file_size(saved)), probe.c_str());
    // Both streams have packets, and the finished header gives the
    // recording's duration: about the three seconds it ran.
    EXPECT_NE(probe.find("nb_read_packets="), std::string::npos) << probe;
    EXPECT_EQ(probe.find("nb_read_packets=0\n"), std::string::npos) << probe;
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    const double seconds = std::atof(probe.c_str() + at + 9);
    EXPECT_GT(seconds, 1.5) << probe;
    EXPECT_LT(seconds, 8.0) << probe;
    // The header, then whole packets.
    const std::size_t header = (file[16] | (file[17] << 8) | (file[18] << 16)) + 50;
    const std::size_t packet = found[92] | (found[93] << 8);
    ASSERT_GT(packet, 0u);
    const auto size = static_cast<std::size_t>(file_size(saved));
    ASSERT_GT(size, header);
    EXPECT_EQ((size - header) % packet, 0u);
    // The media packets ffprobe reads are those of the ASF packets received:
    // as many as in the source file cut after the same packets.
    found[88] = seekable;
    const std::filesystem::path cut = test.folder() / "cut.asf";
    {
        std::ofstream out(cut, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(size));
    }
    EXPECT_EQ(probePackets(saved), probePackets(cut));
}

// Streams go through the proxies that can carry any TCP protocol: a CONNECT
// tunnel and SOCKS5.
TEST_F(CliStream, StreamsGoThroughHttpTunnelsAndSocks)
{
    std::unique_ptr<test::TinyproxyPeer> tinyproxy;
    std::unique_ptr<test::MicrosocksPeer> microsocks;
    try {
        tinyproxy = std::make_unique<test::TinyproxyPeer>();
        microsocks = std::make_unique<test::MicrosocksPeer>();
    } catch (const std::exception& error) {
        GTEST_SKIP() << error.what();
    }
    const std::vector<uint8_t> file = test::asfFile({});
    FakeMmsServer mms({.asf = file});
    test::FakeRtspServer rtsp({.asf = file});
    const std::vector<std::pair<std::string, uint16_t>> proxies = {
        {"https://127.0.0.1:", tinyproxy->port()},
        {"socks5://127.0.0.1:", microsocks->port()},
    };
    int run = 0;
    for (const auto& [scheme, port] : proxies) {
        for (const bool overRtsp : {false, true}) {
            const std::string proxy = scheme + std::to_string(port);
            SCOPED_TRACE(proxy + (overRtsp ? " RTSP" : " MMS"));
            const std::string name = "via" + std::to_string(++run) + ".asf";
            const std::string url = overRtsp ? rtsp.url("/" + name) : mms.url("/" + name);
            std::vector<std::string> args
                = {"-d", (m_dir / "out").string(), "-q", "-v", "--retry", "1", "-x", proxy, url};
            std::string err;
            const int code = test::runCli(args, environment(), m_dir.path(), &err);
            ASSERT_EQ(code, 0) << err;
            EXPECT_EQ(test::readFile(m_dir / "out" / name), test::text(file));
            EXPECT_NE(err.find("Connecting proxy 127.0.0.1:" + std::to_string(port)), std::string::npos) << err;
        }
    }
    // Both streams went through tinyproxy as CONNECT tunnels.
    const std::string log = test::readFile(tinyproxy->logFile());
    size_t tunnels = 0;
    for (size_t at = log.find("CONNECT"); at != std::string::npos; at = log.find("CONNECT", at + 1))
        ++tunnels;
    EXPECT_GE(tunnels, 2u) << log;
}

}  // namespace
}  // namespace fetchora

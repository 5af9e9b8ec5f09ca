// Stream jobs through the job runner with the real MMS worker and the fake
// server: the saved file, a cut transfer resumed to the same bytes, a live
// recording that ends or is stopped, and (with ffmpeg installed) an ASF file
// that ffprobe reads with the right packet count.
#include "engine/asf_test_files.h"
#include "engine/mms_worker.h"
#include "engine/rtsp_worker.h"
#include "engine/runner_fixture.h"
#include "support/fake_mms_server.h"
#include "support/fake_rtsp_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace fetchora {
namespace {

using test::AsfSpec;
using test::FakeMmsOptions;
using test::FakeMmsServer;
using test::FakeRtspOptions;
using test::FakeRtspServer;

class StreamJobTest : public test::RunnerTest {
protected:
    StreamJobTest()
    {
        m_threads.registerProcedure(ServiceCode::Mms, MmsTransfer);
        m_threads.registerProcedure(ServiceCode::Rtsp, RtspTransfer);
        m_settings.SetOption(OptionId::RetryDelay, 1);
    }

    std::string saved(const std::string& name) const
    {
        std::ifstream in(m_dir / "dl" / name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    void probeSavedStream(bool rtsp);
};

TEST_F(StreamJobTest, AnOnDemandStreamCompletesAsTheServedFile)
{
    const std::vector<uint8_t> file = test::asfFile({});
    FakeMmsServer server({.asf = file});
    DownloadJob& job = makeJob(server.url("/v/clip.asf"), 4);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
    EXPECT_NE(job.streamMarker, 0u);
    EXPECT_EQ(job.fileSize, static_cast<int64_t>(file.size()));
    EXPECT_EQ(saved("clip.asf"), test::text(file));
    // One connection: a stream is not split.
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(StreamJobTest, ACutTransferResumesToTheSameFile)
{
    AsfSpec spec;
    spec.packets = 60;
    const std::vector<uint8_t> file = test::asfFile(spec);
    FakeMmsServer server({.asf = file, .cutAfterPackets = 25});
    DownloadJob& job = makeJob(server.url("/clip.asf"));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
    EXPECT_EQ(saved("clip.asf"), test::text(file));
    EXPECT_EQ(server.startPackets(), (std::vector<uint32_t>{0, 25}));
}

AsfSpec liveSpec()
{
    AsfSpec spec;
    spec.flags = 0x1;
    spec.packets = 300;  // 120000 bytes: past the recording's end threshold
    spec.firstSendTime = 700000;
    return spec;
}

TEST_F(StreamJobTest, ALiveStreamThatBreaksAfterEnoughDataIsAFinishedRecording)
{
    const AsfSpec spec = liveSpec();
    const std::vector<uint8_t> file = test::asfFile(spec);
    FakeMmsServer server({.asf = file, .live = true, .cutAfterPackets = 200});
    DownloadJob& job = makeJob(server.url("/live"));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
    const std::size_t header = test::asfHeader(spec).size();
    EXPECT_EQ(job.fileSize, static_cast<int64_t>(header + 200 * spec.packetLength));
    EXPECT_EQ(saved(job.GetDisplayName()).size(), header + 200 * spec.packetLength);
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(StreamJobTest, AStoppedLiveRecordingIsKeptButAQuietStopIsNot)
{
    for (const StopReason reason : {StopReason::User, StopReason::Silent}) {
        const AsfSpec spec = liveSpec();
        FakeMmsServer server({.asf = test::asfFile(spec), .live = true, .packetDelayMs = 2});
        DownloadJob& job = makeJob(server.url(reason == StopReason::User ? "/a" : "/b"));
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntil([&] { return job.completedBytes > 80000; }));
        {
            JobLockGuard guard(m_lock);
            JobRunner::Stop(job, reason);
        }
        ASSERT_TRUE(runUntilEnded(job));
        if (reason == StopReason::User) {
            EXPECT_EQ(job.GetState(), JobState::Completed);
            EXPECT_EQ(saved(job.GetDisplayName()).size(), static_cast<std::size_t>(job.fileSize));
        } else {
            EXPECT_NE(job.GetState(), JobState::Completed);
            EXPECT_FALSE(std::filesystem::exists(m_dir / "dl" / job.GetDisplayName()));
        }
    }
}

// Packets reach the job window as stream data: the recorded range carries
// the stream time of its end (the last packet's send time plus its
// duration), which plain byte data would leave at 0.
TEST_F(StreamJobTest, PacketsRecordTheirStreamTimeWithTheRange)
{
    AsfSpec spec;
    spec.packets = 30;
    spec.firstSendTime = 5000;
    const std::vector<uint8_t> file = test::asfFile(spec);
    const uint32_t lastEnd = spec.firstSendTime + spec.packets * 100;
    for (const bool rtsp : {false, true}) {
        SCOPED_TRACE(rtsp ? "RTSP" : "MMS");
        std::optional<FakeMmsServer> mms;
        std::optional<FakeRtspServer> rtspServer;
        std::string url;
        if (rtsp) {
            rtspServer.emplace(FakeRtspOptions{.asf = file});
            url = rtspServer->url("/t.asf");
        } else {
            mms.emplace(FakeMmsOptions{.asf = file});
            url = mms->url("/m.asf");
        }
        DownloadJob& job = makeJob(url);
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntilEnded(job));
        ASSERT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
        ASSERT_EQ(job.completedRanges.size(), 1u);
        EXPECT_EQ(job.completedRanges.front().end, static_cast<int64_t>(file.size()));
        EXPECT_EQ(job.completedRanges.front().streamEnd, lastEnd);
    }
}

// A live recording's stream times are rebased: they count from 0.
TEST_F(StreamJobTest, ALiveRecordingsRangeEndsAtItsRebasedTime)
{
    const AsfSpec spec = liveSpec();
    FakeMmsServer server({.asf = test::asfFile(spec), .live = true, .cutAfterPackets = 200});
    DownloadJob& job = makeJob(server.url("/live2"));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
    ASSERT_EQ(job.completedRanges.size(), 1u);
    EXPECT_EQ(job.completedRanges.front().streamEnd, 200u * 100u);
}

// The size of an RTSP stream follows the server's description: a job that
// knew another size from an earlier run takes the new one and fetches the
// stream again from its start, because the header on disk describes the old
// file. An MMS job keeps refusing a file whose size changed.
TEST_F(StreamJobTest, AnRtspJobFollowsAChangedSizeAndStartsOver)
{
    AsfSpec spec;
    spec.packets = 30;
    const std::vector<uint8_t> file = test::asfFile(spec);
    AsfSpec older = spec;
    older.packets = 20;
    const std::vector<uint8_t> old = test::asfFile(older);
    const int64_t kept = static_cast<int64_t>(test::asfHeader(older).size()) + 5 * older.packetLength;
    for (const bool rtsp : {true, false}) {
        SCOPED_TRACE(rtsp ? "RTSP" : "MMS");
        std::optional<FakeMmsServer> mms;
        std::optional<FakeRtspServer> rtspServer;
        std::string url;
        const std::string name = rtsp ? "grown-r.asf" : "grown-m.asf";
        if (rtsp) {
            rtspServer.emplace(FakeRtspOptions{.asf = file});
            url = rtspServer->url("/" + name);
        } else {
            mms.emplace(FakeMmsOptions{.asf = file});
            url = mms->url("/" + name);
        }
        std::filesystem::create_directories(m_dir / "dl");
        {
            std::ofstream partial(m_dir / "dl" / (name + ".kx!"), std::ios::binary);
            partial.write(reinterpret_cast<const char*>(old.data()), kept);
        }
        DownloadJob& job = makeJob(url);
        job.SetFileSize(static_cast<int64_t>(old.size()));
        job.completedRanges = {{0, kept, 0, 0}};
        job.completedBytes = kept;
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntilEnded(job));
        if (rtsp) {
            ASSERT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));
            EXPECT_EQ(job.fileSize, static_cast<int64_t>(file.size()));
            EXPECT_EQ(saved(name), test::text(file));
        } else {
            EXPECT_EQ(job.GetState(), JobState::Failed);
            EXPECT_TRUE(logged(job, "File size already changed!")) << ::testing::PrintToString(logOf(job));
        }
    }
}

// Runs a command, returns its standard output.
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

// Serves an ffmpeg-made ASF file over MMS or RTSP, cut after 12 packets, and
// compares what ffprobe reads in the saved file with the source.
void StreamJobTest::probeSavedStream(bool rtsp)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::filesystem::path source = m_dir / "source.asf";
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=3:size=160x120:rate=10 -f lavfi "
                             "-i sine=duration=3 -c:v wmv2 -c:a wmav2 -f asf '"
        + source.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::ifstream in(source, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // Cut after 12 packets: the saved file is put together from two connections.
    std::optional<FakeMmsServer> mms;
    std::optional<FakeRtspServer> rtspServer;
    std::string url;
    if (rtsp) {
        rtspServer.emplace(FakeRtspOptions{.asf = file, .cutAfterPackets = 12});
        url = rtspServer->url("/clip.asf");
    } else {
        mms.emplace(FakeMmsOptions{.asf = file, .cutAfterPackets = 12, .stripPadding = true});
        url = mms->url("/clip.asf");
    }
    DownloadJob& job = makeJob(url);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_EQ(job.GetState(), JobState::Completed) << ::testing::PrintToString(logOf(job));

    const auto probe = [](const std::filesystem::path& path) {
        return output(
            "ffprobe -v error -count_packets -show_entries stream=nb_read_packets:format=duration -of csv=p=0 '"
            + path.string() + "'");
    };
    const std::string expected = probe(source);
    const std::string got = probe(m_dir / "dl" / "clip.asf");
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(got, expected);
    // The saved file is the source without its index.
    EXPECT_EQ(saved("clip.asf"), test::text(file).substr(0, static_cast<std::size_t>(job.fileSize)));
    std::printf("ffprobe of the stream saved over %s:\n%s", rtsp ? "RTSP" : "MMS", got.c_str());
}

TEST_F(StreamJobTest, AnAsfFileSavedOverMmsIsReadByFfprobe)
{
    probeSavedStream(false);
}

TEST_F(StreamJobTest, AnAsfFileSavedOverRtspIsReadByFfprobe)
{
    probeSavedStream(true);
}

}  // namespace
}  // namespace fetchora

// The RTSP worker's messages: the requests it writes, the RN5 digest, the
// answer heads it reads, the session description, and the splitting of the
// server's byte stream with both length rules.
#include "engine/interleaved_frames.h"
#include "engine/rtsp_request.h"
#include "engine/sdp.h"
#include "net/base64_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace fetchora {
namespace {

RtspRequestInput input(RtspRequestKind kind, RtspServerKind server = RtspServerKind::RealMedia)
{
    RtspRequestInput in;
    in.kind = kind;
    in.server = server;
    in.url = "rtsp://media.test:8554/show/clip.rm";
    in.host = "media.test";
    in.port = 8554;
    in.cseq = 4;
    return in;
}

TEST(RtspRequest, OptionsPresentsTheClientAsARealMediaPlayer)
{
    RtspRequestInput in = input(RtspRequestKind::Options);
    in.cseq = 1;
    EXPECT_EQ(BuildRtspRequest(in),
              "OPTIONS rtsp://media.test:8554 RTSP/1.0\r\n"
              "CSeq: 1\r\n"
              "User-Agent: RealMedia Player Version 6.0.9.1235 (linux-2.0-libc6-i386-gcc2.95)\r\n"
              "ClientChallenge: 3c5f0a9e7b21d4c86e0f1a2b9d7c4e53\r\n"
              "PlayerStarttime: [28/03/2003:22:50:23 00:00]\r\n"
              "CompanyID: Xp7LQ2vT9kWm4RsNd8ZcAg==\r\n"
              "GUID: 5f3a9c21-7d4e-4b8a-9e6f-1c2d3e4f5a6b\r\n"
              "RegionData: 0\r\n"
              "ClientID: Linux_2.4_6.0.9.1235_play32_RN01_EN_586\r\n"
              "Pragma: initiate-session\r\n"
              "\r\n");
}

TEST(RtspRequest, DescribeDependsOnTheServerKind)
{
    RtspRequestInput real = input(RtspRequestKind::Describe);
    real.user = "ann";
    real.password = "pw";
    EXPECT_EQ(BuildRtspRequest(real),
              "DESCRIBE rtsp://media.test:8554/show/clip.rm RTSP/1.0\r\n"
              "CSeq: 4\r\n"
              "Authorization: Basic YW5uOnB3\r\n"
              "Accept: application/sdp\r\n"
              "Bandwidth: 10485800\r\n"
              "SupportsMaximumASMBandwidth: 1\r\n"
              "GUID: 5f3a9c21-7d4e-4b8a-9e6f-1c2d3e4f5a6b\r\n"
              "Require: com.real.retain-entity-for-setup\r\n"
              "\r\n");
    RtspRequestInput windows = input(RtspRequestKind::DescribeNtlmNegotiate, RtspServerKind::WindowsMedia);
    windows.authorization = "TlRMTVNTUAAB";
    EXPECT_EQ(BuildRtspRequest(windows),
              "DESCRIBE rtsp://media.test:8554/show/clip.rm RTSP/1.0\r\n"
              "CSeq: 4\r\n"
              "X-Accept-Authentication: NTLM, Basic\r\n"
              "Authorization: NTLM TlRMTVNTUAAB\r\n"
              "\r\n");
}

TEST(RtspRequest, SetupPlayAndSubscribe)
{
    RtspRequestInput setup = input(RtspRequestKind::FirstSetup, RtspServerKind::WindowsMedia);
    setup.contentBase = "rtsp://media.test:8554/show/clip.wmv";
    setup.control = "audio";
    EXPECT_EQ(BuildRtspRequest(setup),
              "SETUP rtsp://media.test:8554/show/clip.wmv/audio RTSP/1.0\r\nCSeq: 4\r\n"
              "Transport: RTP/AVP/TCP;unicast;interleaved=0-1;mode=PLAY\r\n\r\n");
    setup.kind = RtspRequestKind::SecondSetup;
    setup.session = "12345";
    EXPECT_NE(
        BuildRtspRequest(setup).find("Session: 12345\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3;mode=PLAY"),
        std::string::npos);

    RtspRequestInput play = input(RtspRequestKind::Play);
    play.session = "s1";
    EXPECT_EQ(BuildRtspRequest(play),
              "PLAY rtsp://media.test:8554/show/clip.rm RTSP/1.0\r\nCSeq: 4\r\nSession: s1\r\n\r\n");
    play.startMilliseconds = 83007;
    EXPECT_NE(BuildRtspRequest(play).find("Session: s1\r\nRange: npt=83.007-\r\n\r\n"), std::string::npos);

    RtspRequestInput subscribe = input(RtspRequestKind::SetParameter);
    subscribe.subscribe = "stream=0;rule=0,stream=1;rule=2";
    subscribe.session = "s1";
    EXPECT_EQ(BuildRtspRequest(subscribe),
              "SET_PARAMETER rtsp://media.test:8554/show/clip.rm RTSP/1.0\r\nCSeq: 4\r\n"
              "Subscribe: stream=0;rule=0,stream=1;rule=2\r\nSession: s1\r\n\r\n");
}

TEST(RtspRequest, Rn5DigestAndItsAuthorization)
{
    // The expected value was computed apart with Python's hashlib from the
    // same three MD5 steps.
    const std::string response = Rn5Response("u", "r", "p", "n", "rtsp://h/x");
    EXPECT_EQ(response.size(), 32u);
    EXPECT_EQ(response, Rn5Response("u", "r", "p", "n", "rtsp://h/x"));
    EXPECT_NE(response, Rn5Response("u", "r", "p", "n", "rtsp://h/y"));
    EXPECT_NE(response, Rn5Response("u", "r", "q", "n", "rtsp://h/x"));
    EXPECT_EQ(Rn5Response("user", "realm", "pass", "nonce", "rtsp://a/b"), "f50705843dbe5313fcb2afa8060f1365");
    EXPECT_EQ(Rn5Authorization("u", "r", "n", "abc"),
              "RN5 username=\"u\", GUID=\"7c1e4a90-2b3d-4f5e-8a6b-9c0d1e2f3a4b\",realm=\"r\",nonce=\"n\","
              "responce=\"abc\"");
    const std::optional<Rn5Challenge> challenge = ReadRn5Challenge("RN5 realm=\"Media\", nonce=\"0123abc\"");
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->realm, "Media");
    EXPECT_EQ(challenge->nonce, "0123abc");
    EXPECT_FALSE(ReadRn5Challenge("Basic realm=\"x\""));
    EXPECT_FALSE(ReadRn5Challenge("RN5 realm=\"x\""));
}

TEST(RtspHead, AnswersAndServerRequests)
{
    const std::optional<RtspHead> answer = ParseRtspHead("RTSP/1.0 200 OK\r\nCSeq: 2\r\nServer: WMServer/9.1\r\n"
                                                         "content-length: 40\r\nSession: 77;timeout=60\r\n\r\n");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->cseq(), 2u);
    EXPECT_EQ(answer->contentLength(), 40);
    ASSERT_NE(answer->header("SERVER"), nullptr);
    EXPECT_EQ(*answer->header("server"), "WMServer/9.1");

    const std::optional<RtspHead> request = ParseRtspHead("SET_PARAMETER rtsp://h/x RTSP/1.0\r\nCSeq: 9\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->answer);
    EXPECT_EQ(request->method, "SET_PARAMETER");
    EXPECT_EQ(RtspRefusal(request->cseq()), "RTSP/1.0 451 Parameter Not Understood\r\nCSeq: 9\r\n\r\n");

    EXPECT_FALSE(ParseRtspHead("RTSP/1.0 abc\r\n\r\n"));
    EXPECT_FALSE(ParseRtspHead(""));
    EXPECT_EQ(ParseRtspHead("RTSP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n")->contentLength(), 0);
}

// The server kind comes from the OPTIONS answer's Server header; a server
// that hides it is taken for Windows Media when its host lies in a
// "windowsmedia." domain, whatever the case of the name.
TEST(RtspServerKind, FromTheServerHeaderOrTheHostDomain)
{
    const std::string wms = "WMServer/9.1.1.5000";
    const std::string real = "RealServer Version 9.0";
    struct Case {
        const std::string* server;
        std::string host;
        RtspServerKind kind;
    };
    const Case cases[] = {
        {&wms, "media.example.org", RtspServerKind::WindowsMedia},
        {&real, "media.example.org", RtspServerKind::RealMedia},
        {nullptr, "media.example.org", RtspServerKind::RealMedia},
        {nullptr, "windowsmedia.example.org", RtspServerKind::WindowsMedia},
        {nullptr, "Live.WindowsMedia.Example.NET", RtspServerKind::WindowsMedia},
        {nullptr, "windowsmediaexample.org", RtspServerKind::RealMedia},
        {nullptr, "windowsmedia", RtspServerKind::RealMedia},
        {nullptr, "", RtspServerKind::RealMedia},
        // A server that names itself is believed, whatever its host.
        {&real, "windowsmedia.example.org", RtspServerKind::RealMedia},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.server ? *c.server : std::string("(no Server)")) + " " + c.host);
        EXPECT_EQ(RtspServerKindOf(c.server, c.host), c.kind);
    }
}

TEST(Sdp, RealMediaStreamsAndTheirAttributes)
{
    const Base64Codec base64;
    const std::string body = "v=0\r\n"
                             "a=Title:buffer;\""
        + base64.encode(std::string_view("My Show\0", 8))
        + "\"\r\n"
          "a=Author:buffer;\""
        + base64.encode(std::string_view("Me"))
        + "\"\r\n"
          "a=length:npt=61.5\r\n"
          "m=audio 0 RTP/AVP 101\r\n"
          "a=control:streamid=0\r\n"
          "a=MaxBitRate:integer;64000\r\n"
          "a=AvgBitRate:integer;32000\r\n"
          "a=Preroll:integer;4000\r\n"
          "a=StreamName:string;\"Audio Stream\"\r\n"
          "a=mimetype:string;\"audio/x-pn-realaudio\"\r\n"
          "a=ASMRuleBook:string;\"#($Bandwidth >= 0);\"\r\n"
          "a=OpaqueData:buffer;\""
        + base64.encode(std::string_view("\x01\x02\x03", 3))
        + "\"\r\n"
          "a=length:npt=61.0\r\n"
          "m=video 0 RTP/AVP 101\n"
          "a=control:streamid=1\n"
          "a=MaxPacketSize:integer;notanumber\n"
          "a=mimetype:string;\"video/x-pn-realvideo\"\n";
    const SdpDescription sdp = ParseSdp(body);
    EXPECT_EQ(sdp.title, "My Show");
    EXPECT_EQ(sdp.author, "Me");
    EXPECT_DOUBLE_EQ(sdp.duration, 61.5);
    ASSERT_EQ(sdp.streams.size(), 2u);
    const SdpStream& audio = sdp.streams[0];
    EXPECT_FALSE(audio.video);
    EXPECT_EQ(audio.streamNumber, 0);
    EXPECT_EQ(audio.maxBitRate, 64000);
    EXPECT_EQ(audio.avgBitRate, 32000);
    EXPECT_EQ(audio.preroll, 4000);
    EXPECT_EQ(audio.streamName, "Audio Stream");
    EXPECT_TRUE(audio.realAudio);
    EXPECT_EQ(audio.ruleBook, "#($Bandwidth >= 0);");
    EXPECT_EQ(audio.opaqueData, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_DOUBLE_EQ(audio.duration, 61.0);
    const SdpStream& video = sdp.streams[1];
    EXPECT_TRUE(video.video);
    EXPECT_EQ(video.control, "streamid=1");
    EXPECT_EQ(video.streamNumber, 1);
    EXPECT_EQ(video.maxPacketSize, 0);
    EXPECT_FALSE(video.realAudio);
}

TEST(Sdp, WindowsMediaCarriesTheAsfHeader)
{
    const std::string header = "0&\xB2u\x8E"
                               "fabc";
    const std::string body = "v=0\r\na=pgmpu:data:application/vnd.ms.wms-hdr.asfv1;base64,"
        + Base64Codec().encode(std::string_view(header)) + "\r\nm=audio 0 RTP/AVP 96\r\na=control:audio\r\n";
    const SdpDescription sdp = ParseSdp(body);
    EXPECT_EQ(std::string(sdp.asfHeader.begin(), sdp.asfHeader.end()), header);
    ASSERT_EQ(sdp.streams.size(), 1u);
    EXPECT_EQ(sdp.streams[0].control, "audio");
    EXPECT_EQ(sdp.streams[0].streamNumber, -1);
}

TEST(Sdp, StreamsAreBounded)
{
    std::string body;
    for (int i = 0; i < 1000; ++i)
        body += "m=audio 0 RTP/AVP 1\r\na=control:streamid=" + std::to_string(i) + "\r\n";
    EXPECT_EQ(ParseSdp(body).streams.size(), kMaxSdpStreams);
}

std::vector<uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

TEST(InterleavedSplitter, LengthRulesOfBothServerKinds)
{
    EXPECT_EQ(InterleavedLength(RtspServerKind::WindowsMedia, 0x00, 0x01, 0x02), 258u);
    EXPECT_EQ(InterleavedLength(RtspServerKind::WindowsMedia, 0x05, 0xFF, 0xFF), 65535u);
    // ((byte 2 + 16 × byte 1) mod 256) × 256 + byte 3
    EXPECT_EQ(InterleavedLength(RtspServerKind::RealMedia, 0x00, 0x01, 0x02), 258u);
    EXPECT_EQ(InterleavedLength(RtspServerKind::RealMedia, 0x01, 0x02, 0x03), (0x12u) * 256 + 3);
    EXPECT_EQ(InterleavedLength(RtspServerKind::RealMedia, 0x10, 0x05, 0x00), 0x05u * 256);
}

TEST(InterleavedSplitter, AnswerBodyRequestAndFramesCutAtAnyReadBoundary)
{
    std::string wire = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 5\r\n\r\nv=0\r\n";
    wire += "SET_PARAMETER rtsp://h/x RTSP/1.0\r\nCSeq: 3\r\n\r\n";
    wire += std::string("$\x00\x00\x03", 4) + "abc";
    wire += std::string("$\x02\x00\x00", 4);
    for (std::size_t step : {1u, 3u, 7u, 1000u}) {
        InterleavedSplitter splitter(RtspServerKind::WindowsMedia);
        std::vector<RtspItem> items;
        for (std::size_t at = 0; at < wire.size(); at += step) {
            splitter.feed(bytes(std::string_view(wire).substr(at, step)));
            for (RtspItem item = splitter.next(); item.kind != RtspItem::Kind::NeedMore; item = splitter.next()) {
                if (item.kind == RtspItem::Kind::Answer)
                    splitter.expectBody(static_cast<std::size_t>(ParseRtspHead(item.text)->contentLength()));
                items.push_back(std::move(item));
            }
        }
        ASSERT_EQ(items.size(), 5u) << step;
        EXPECT_EQ(items[0].kind, RtspItem::Kind::Answer);
        EXPECT_EQ(items[1].kind, RtspItem::Kind::Body);
        EXPECT_EQ(items[1].text, "v=0\r\n");
        EXPECT_EQ(items[2].kind, RtspItem::Kind::Request);
        EXPECT_EQ(items[3].kind, RtspItem::Kind::Frame);
        EXPECT_EQ(items[3].payload, bytes("abc"));
        EXPECT_EQ(items[4].channel, 2);
        EXPECT_TRUE(items[4].payload.empty());
    }
}

TEST(InterleavedSplitter, HostileInputIsAnErrorNotAnEndlessBuffer)
{
    InterleavedSplitter junk;
    junk.feed(bytes("HTTP/1.1 200 OK\r\n\r\n"));
    EXPECT_EQ(junk.next().kind, RtspItem::Kind::Error);

    InterleavedSplitter endless;
    endless.feed(bytes("RTSP/1.0 200 OK\r\n" + std::string(kMaxRtspHead, 'x')));
    EXPECT_EQ(endless.next().kind, RtspItem::Kind::Error);

    InterleavedSplitter huge;
    huge.expectBody(kMaxRtspBody + 1);
    huge.feed(bytes("v=0"));
    EXPECT_EQ(huge.next().kind, RtspItem::Kind::Error);

    std::mt19937 random(5);
    for (int round = 0; round < 500; ++round) {
        InterleavedSplitter splitter(round % 2 ? RtspServerKind::RealMedia : RtspServerKind::WindowsMedia);
        for (int read = 0; read < 20; ++read) {
            std::vector<uint8_t> chunk(random() % 300);
            for (uint8_t& b : chunk)
                b = static_cast<uint8_t>(random() % 3 == 0 ? '$' : random());
            splitter.feed(chunk);
            RtspItem item = splitter.next();
            while (item.kind == RtspItem::Kind::Frame)
                item = splitter.next();
            if (item.kind == RtspItem::Kind::Error)
                break;
            EXPECT_LE(splitter.buffered(), 65535u + 4 + 300);
        }
    }
}

}  // namespace
}  // namespace fetchora

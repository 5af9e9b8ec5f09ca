// The MMS command messages, the frame splitter, the server error table and
// the ASF header reader.
#include "engine/asf_header.h"
#include "engine/asf_test_files.h"
#include "engine/mms_commands.h"
#include "support/scoped_language.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace fetchora {
namespace {

uint32_t at32(const std::vector<uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

TEST(MmsCommands, MessageHasTheCommonHeaderAndIsPaddedToEightBytes)
{
    const std::vector<uint8_t> fields(13, 0xAB);
    const std::vector<uint8_t> message = BuildMmsCommand(MmsClientCode::OpenFile, 7, fields);
    ASSERT_EQ(message.size(), 56u);  // 40 + 13 rounded up
    EXPECT_EQ(message[0], 0x01);
    EXPECT_EQ(at32(message, 4), 0xB00BFACEu);
    EXPECT_EQ(at32(message, 8), 40u);
    EXPECT_EQ(std::memcmp(message.data() + 12, "MMS ", 4), 0);
    EXPECT_EQ(at32(message, 16), 5u);  // (56 - 16) / 8
    EXPECT_EQ(at32(message, 20), 7u);
    EXPECT_EQ(at32(message, 32), 3u);  // (56 - 32) / 8
    EXPECT_EQ(at32(message, 36), 0x00030005u);
    EXPECT_EQ(message[52], 0xAB);
    EXPECT_EQ(message[53], 0x00);  // padding
}

TEST(MmsCommands, FunnelInformationHasFourChunksOfWhichTwoFollowTheLength)
{
    const std::vector<uint8_t> message = BuildMmsCommand(MmsClientCode::FunnelInfo, 1, MmsFunnelInfoFields());
    EXPECT_EQ(at32(message, 16), 4u);
    EXPECT_EQ(at32(message, 32), 2u);
    EXPECT_EQ(at32(message, 36), 0x00030018u);
}

TEST(MmsCommands, StartPlayingPutsTheFirstPacketAtOffsetSixty)
{
    const std::vector<uint8_t> fresh = BuildMmsCommand(MmsClientCode::StartPlaying, 5, MmsStartPlayingFields(0, 9.5));
    EXPECT_EQ(at32(fresh, 60), 0u);
    double seconds = -1;
    std::memcpy(&seconds, fresh.data() + 48, sizeof seconds);
    EXPECT_EQ(seconds, 0.0);  // a new download starts at the beginning

    const std::vector<uint8_t> resumed
        = BuildMmsCommand(MmsClientCode::StartPlaying, 5, MmsStartPlayingFields(10, 1.25));
    EXPECT_EQ(at32(resumed, 60), 10u);
    std::memcpy(&seconds, resumed.data() + 48, sizeof seconds);
    EXPECT_EQ(seconds, 1.25);
}

TEST(MmsCommands, TextsAreUtf16WithTheirPrefixes)
{
    EXPECT_EQ(FromUtf16Le(Utf16Le("h\xC3\xA9llo \xF0\x9F\x98\x80")), "h\xC3\xA9llo \xF0\x9F\x98\x80");
    // A byte that is not UTF-8 stands for its Latin-1 character.
    EXPECT_EQ(FromUtf16Le(Utf16Le("\xE9")), "\xC3\xA9");
    const std::vector<uint8_t> connect = MmsConnectFields("{G}", "media.example");
    EXPECT_EQ(FromUtf16Le(std::span<const uint8_t>(connect).subspan(12)),
              "NSPlayer/9.0.0.2980; {G};Host: media.example");
    const std::vector<uint8_t> funnel = MmsConnectFunnelFields("127.0.0.1", 4321);
    EXPECT_EQ(FromUtf16Le(std::span<const uint8_t>(funnel).subspan(20)), "\\\\127.0.0.1\\TCP\\4321");
    const std::vector<uint8_t> open = MmsOpenFileFields("/dir/clip.asf?x=1");
    EXPECT_EQ(FromUtf16Le(std::span<const uint8_t>(open).subspan(16)), "dir/clip.asf?x=1");
}

TEST(MmsCommands, ServerErrorTable)
{
    struct Case {
        uint32_t code;
        const char* text;
        bool refused;
    };
    const Case cases[] = {
        {0x8000FFFF, "file failed to open", false},
        {0x80070005, "You do not have access to the location or file", true},
        {0x80070057, "A parameter in the location is incorrect", false},
        {0xC00D000E, "the network is busy", false},
        {0xC00D000F, "too many connected sessions to server exist", false},
        {0xC00D0013, "There was no timely response from the server", false},
        {0xC00D001A, "File Not Found.", true},
        {0xC00D0029, "the network has failed - connection was lost", false},
        {0xC00D0034, "There is no more data in the stream (UDP)", false},
        {0xC00D1234, "Unknow ErrorCode: 0XC00D1234", false},
    };
    for (const Case& c : cases) {
        const std::optional<MmsServerError> error = MmsErrorFor(c.code);
        ASSERT_TRUE(error) << std::hex << c.code;
        EXPECT_EQ(error->text, c.text);
        EXPECT_EQ(error->refused, c.refused) << c.text;
    }
    EXPECT_FALSE(MmsErrorFor(0));
    EXPECT_FALSE(MmsErrorFor(1));
}

TEST(MmsCommands, TimesDropLeadingZeroUnits)
{
    EXPECT_EQ(FormatMmsTime(0), "0.000");
    EXPECT_EQ(FormatMmsTime(12345), "12.345");
    EXPECT_EQ(FormatMmsTime(62003), "1:02.003");
    EXPECT_EQ(FormatMmsTime(3723004), "1:02:03.004");
    EXPECT_EQ(FormatMmsTime(90061005), "1:01:01:01.005");
}

std::vector<uint8_t> serverCommand(uint32_t code, std::size_t fieldBytes)
{
    std::vector<uint8_t> message = BuildMmsCommand(MmsClientCode::Pong, 0, std::vector<uint8_t>(fieldBytes, 0));
    message[36] = static_cast<uint8_t>(code);
    message[38] = 0x04;
    return message;
}

std::vector<uint8_t> dataFrame(uint32_t location, uint8_t type, std::size_t payload, std::size_t claimed = 0)
{
    std::vector<uint8_t> out(8 + payload, 0x5A);
    const std::size_t length = claimed ? claimed : payload + 8;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(location >> (8 * i));
    out[4] = type;
    out[5] = 0x0C;
    out[6] = static_cast<uint8_t>(length);
    out[7] = static_cast<uint8_t>(length >> 8);
    return out;
}

TEST(MmsFrameSplitter, CutsCommandsAndFramesWhereverTheReadsEnd)
{
    std::vector<uint8_t> wire = serverCommand(0x06, 20);
    const std::vector<uint8_t> frame = dataFrame(9, kMmsFrameData2, 100);
    wire.insert(wire.end(), frame.begin(), frame.end());
    const std::vector<uint8_t> ping = serverCommand(0x1B, 8);
    wire.insert(wire.end(), ping.begin(), ping.end());

    // Fed one byte at a time, the same three items come out.
    MmsFrameSplitter splitter;
    std::vector<MmsItem> items;
    for (uint8_t byte : wire) {
        splitter.feed(std::span<const uint8_t>(&byte, 1));
        for (MmsItem item = splitter.next(); item.kind != MmsItem::Kind::NeedMore; item = splitter.next())
            items.push_back(std::move(item));
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, MmsItem::Kind::Command);
    EXPECT_EQ(items[0].command.identifier, 0x00040006u);
    EXPECT_EQ(items[1].kind, MmsItem::Kind::Frame);
    EXPECT_EQ(items[1].location, 9u);
    EXPECT_EQ(items[1].payload.size(), 100u);
    EXPECT_EQ(items[2].command.code(), 0x1Bu);
    EXPECT_EQ(splitter.buffered(), 0u);
}

TEST(MmsFrameSplitter, BadLengthsAndTypesAreErrorsWithTheirLogLines)
{
    struct Case {
        std::vector<uint8_t> bytes;
        const char* line;
    };
    std::vector<uint8_t> hugeCommand = serverCommand(0x06, 8);
    hugeCommand[8] = 0xF0;
    hugeCommand[10] = 0x10;  // claims more than a megabyte
    std::vector<uint8_t> shortCommand = serverCommand(0x06, 8);
    shortCommand[8] = 4;
    shortCommand[9] = 0;
    const Case cases[] = {
        {dataFrame(1, kMmsFrameData, 0, 8), "Illegal ChunkLength. Chunk is 8 bytes!\n"},
        {dataFrame(1, kMmsFrameHeader, 0, 3), "Illegal ChunkLength. Chunk is 3 bytes!\n"},
        {dataFrame(1, 0x07, 20), "Unknown header type: 07:0C\n"},
        {hugeCommand, "Illegal ChunkLength. Chunk is 1048832 bytes!\n"},
        {shortCommand, "Illegal ChunkLength. Chunk is 20 bytes!\n"},
    };
    for (const Case& c : cases) {
        MmsFrameSplitter splitter;
        splitter.feed(c.bytes);
        const MmsItem item = splitter.next();
        EXPECT_EQ(item.kind, MmsItem::Kind::Error) << c.line;
        EXPECT_EQ(item.error, c.line);
    }
}

TEST(MmsFrameSplitter, RandomBytesNeverCrashOrHoldMoreThanOneMessage)
{
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        MmsFrameSplitter splitter;
        bool failed = false;
        for (int read = 0; read < 50 && !failed; ++read) {
            std::vector<uint8_t> bytes(random() % 600);
            for (uint8_t& b : bytes)
                b = static_cast<uint8_t>(random());
            if (random() % 4 == 0 && bytes.size() >= 8) {
                bytes[4] = 0xCE;
                bytes[5] = 0xFA;
                bytes[6] = 0x0B;
                bytes[7] = 0xB0;
            }
            splitter.feed(bytes);
            for (MmsItem item = splitter.next(); item.kind != MmsItem::Kind::NeedMore; item = splitter.next()) {
                if (item.kind == MmsItem::Kind::Error) {
                    failed = true;
                    break;
                }
                EXPECT_LE(item.payload.size(), 0xFFFFu);
                EXPECT_LE(item.command.message.size(), kMmsMaxCommandSize);
            }
            EXPECT_LE(splitter.buffered(), kMmsMaxCommandSize + 600);
        }
    }
}

TEST(AsfHeader, FilePropertiesAndTextsAreRead)
{
    test::AsfSpec spec;
    spec.packets = 33;
    spec.packetLength = 512;
    spec.durationMs = 61500;
    const std::vector<uint8_t> header = test::asfHeader(spec);
    ASSERT_EQ(AsfHeaderLength(header), header.size());
    std::string error;
    const std::optional<AsfInfo> info = ParseAsfHeader(header, &error);
    ASSERT_TRUE(info) << error;
    EXPECT_EQ(info->packetLength, 512u);
    EXPECT_EQ(info->totalPackets, 33u);
    EXPECT_EQ(info->headerSize, static_cast<int64_t>(header.size()));
    EXPECT_EQ(info->playMilliseconds(), 61500u);
    EXPECT_TRUE(info->onDemand);
    EXPECT_EQ(info->fileSize(), static_cast<int64_t>(header.size()) + 33 * 512);
    EXPECT_EQ(info->title, "Clip");
    EXPECT_EQ(info->author, "Tester");
}

TEST(AsfHeader, ABroadcastHasNoSize)
{
    test::AsfSpec spec;
    spec.flags = 0x1;
    spec.packets = 0;
    const std::optional<AsfInfo> info = ParseAsfHeader(test::asfHeader(spec));
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->onDemand);
    EXPECT_EQ(info->fileSize(), -1);
}

// The server's errors, the splitter's and the header reader's are made in
// the current language; a translation that drops or reorders the printf
// fields never reads past the values it is given.
TEST(MmsCommands, TheErrorsAreInTheCurrentLanguage)
{
    test::ScopedLanguage german("41709=Blockl\xC3\xA4nge %d ist ung\xC3\xBCltig\\n\n"
                                "41710=Unbekannter Kopftyp %02X\n"
                                "41711=Fehlercode 0X%X %s %d\n"
                                "41715=das Netz ist ausgelastet\n"
                                "41718=Datei nicht gefunden.\n"
                                "41747=Ein Objekt reicht \xC3\xBC" "ber das Ende hinaus.\n");
    const std::optional<MmsServerError> busy = MmsErrorFor(0xC00D000E);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->text, "das Netz ist ausgelastet");
    EXPECT_FALSE(busy->refused);
    const std::optional<MmsServerError> missing = MmsErrorFor(0xC00D001A);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->text, "Datei nicht gefunden.");
    EXPECT_TRUE(missing->refused);
    // Fields past the one value stay as they stand.
    EXPECT_EQ(MmsErrorFor(0xC00D1234)->text, "Fehlercode 0XC00D1234 %s %d");
    // A code the file has no text for stays English.
    EXPECT_EQ(MmsErrorFor(0xC00D0034)->text, "There is no more data in the stream (UDP)");

    MmsFrameSplitter shortFrame;
    shortFrame.feed(dataFrame(1, kMmsFrameData, 0, 8));
    EXPECT_EQ(shortFrame.next().error, "Blockl\xC3\xA4nge 8 ist ung\xC3\xBCltig\n");
    MmsFrameSplitter unknownType;
    unknownType.feed(dataFrame(1, 0x07, 20));
    EXPECT_EQ(unknownType.next().error, "Unbekannter Kopftyp 07");

    std::vector<uint8_t> header = test::asfHeader({});
    header[30 + 16] = 0xFF;
    header[30 + 17] = 0xFF;
    std::string error;
    EXPECT_FALSE(ParseAsfHeader(header, &error));
    EXPECT_EQ(error, "Ein Objekt reicht \xC3\xBC" "ber das Ende hinaus.");
    test::AsfSpec countless;
    countless.claimedPackets = uint64_t{1} << 40;
    EXPECT_FALSE(ParseAsfHeader(test::asfHeader(countless), &error));
    EXPECT_EQ(error, "The stream header gives no usable packet count.");
}

TEST(AsfHeader, LyingHeadersAreRefused)
{
    test::AsfSpec unequal;
    unequal.claimedMaxPacketLength = 401;
    EXPECT_FALSE(ParseAsfHeader(test::asfHeader(unequal)));

    test::AsfSpec countless;
    countless.claimedPackets = uint64_t{1} << 40;
    EXPECT_FALSE(ParseAsfHeader(test::asfHeader(countless)));

    test::AsfSpec huge;
    huge.packetLength = 0x20000;
    EXPECT_FALSE(ParseAsfHeader(test::asfHeader(huge)));

    // An object whose size runs past the header.
    std::vector<uint8_t> header = test::asfHeader({});
    header[30 + 16] = 0xFF;
    header[30 + 17] = 0xFF;
    std::string error;
    EXPECT_FALSE(ParseAsfHeader(header, &error));
    EXPECT_NE(error.find("runs past"), std::string::npos) << error;

    // A header object claiming more than the limit is not collected.
    std::vector<uint8_t> big = test::asfHeader({});
    big[16 + 3] = 0x7F;
    EXPECT_FALSE(AsfHeaderLength(big));
    EXPECT_FALSE(AsfHeaderLength(std::span<const uint8_t>(big).first(20)));
}

TEST(AsfHeader, RandomHeadersNeverCrash)
{
    std::mt19937 random(77);
    const std::vector<uint8_t> good = test::asfHeader({});
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> header = good;
        for (int flips = 0; flips < 4; ++flips)
            header[random() % header.size()] = static_cast<uint8_t>(random());
        header.resize(random() % (header.size() + 1));
        const std::optional<AsfInfo> info = ParseAsfHeader(header);
        if (info) {
            EXPECT_GT(info->packetLength, 0u);
            EXPECT_LE(info->packetLength, kMaxAsfPacketLength);
        }
        std::vector<uint8_t> packet(random() % 40);
        for (uint8_t& b : packet)
            b = static_cast<uint8_t>(random());
        if (const auto head = ParseAsfPacketHead(packet)) {
            EXPECT_LE(head->headLength, packet.size());
        }
    }
}

TEST(AsfHeader, PacketSendTimeIsFoundAndRewritten)
{
    test::AsfSpec spec;
    spec.firstSendTime = 5000;
    std::vector<uint8_t> packet = test::asfPacket(spec, 3);
    const std::optional<AsfPacketHead> head = ParseAsfPacketHead(packet);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->sendTime, 5300u);
    EXPECT_EQ(head->paddingLength, spec.packetLength - spec.payloadBytes);
    EXPECT_EQ(head->sendTimeOffset, 7u);
    ASSERT_TRUE(SetAsfSendTime(packet, 42));
    EXPECT_EQ(ParseAsfPacketHead(packet)->sendTime, 42u);
    EXPECT_FALSE(ParseAsfPacketHead(std::span<const uint8_t>(packet).first(9)));
}

TEST(AsfHeader, AFinishedLiveRecordingGetsItsSizeCountAndDuration)
{
    test::AsfSpec spec;
    spec.flags = 0x3;  // broadcast, seekable
    spec.packets = 0;
    std::vector<uint8_t> header = test::asfHeader(spec);
    const int64_t length = static_cast<int64_t>(header.size()) + 25 * 400 + 7;  // a torn last packet
    ASSERT_TRUE(FinalizeLiveAsfHeader(header, length, 2400, 100));
    const std::optional<AsfInfo> info = ParseAsfHeader(header);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->onDemand);
    EXPECT_EQ(info->flags, 0x2u);
    EXPECT_EQ(info->totalPackets, 25u);
    EXPECT_EQ(info->playMilliseconds(), 2500u);
    const std::size_t data = header.size() - kAsfDataObjectHead;
    uint64_t dataSize = 0;
    uint64_t dataPackets = 0;
    for (int i = 7; i >= 0; --i) {
        dataSize = (dataSize << 8) | header[data + 16 + i];
        dataPackets = (dataPackets << 8) | header[data + 40 + i];
    }
    EXPECT_EQ(dataSize, 50u + 25 * 400);
    EXPECT_EQ(dataPackets, 25u);

    // An on-demand header is left alone.
    std::vector<uint8_t> onDemand = test::asfHeader({});
    const std::vector<uint8_t> before = onDemand;
    EXPECT_FALSE(FinalizeLiveAsfHeader(onDemand, 100000, 1, 1));
    EXPECT_EQ(onDemand, before);
}

}  // namespace
}  // namespace fetchora

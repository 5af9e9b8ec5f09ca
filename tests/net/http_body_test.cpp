// The body on its way to the job window: chunked decoding in pieces of any
// size, bad chunk sizes, the hold-back through proxies, the body's limit and
// the rule that decides whether an ended body is whole.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "lang/current_language.h"
#include "net/http_body.h"
#include "net/http_response.h"

namespace fetchora {
namespace {

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Decodes text cut into pieces of `piece` bytes; nothing on an error.
std::optional<std::string> decodeInPieces(ChunkedDecoder& decoder, const std::string& text, std::size_t piece)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        std::vector<uint8_t> chunk = bytes(text.substr(at, piece));
        const std::optional<std::size_t> count = decoder.decode(chunk);
        if (!count)
            return std::nullopt;
        out.append(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*count));
    }
    return out;
}

// Records blocks handed over, answering Continue unless told otherwise.
struct Recorder {
    std::vector<std::pair<int64_t, std::string>> blocks;
    WriteResult answer = WriteResult::Continue;

    BodySink sink()
    {
        return [this](int64_t position, std::span<const uint8_t> block) {
            blocks.emplace_back(position, std::string(block.begin(), block.end()));
            return answer;
        };
    }
    std::string all() const
    {
        std::string text;
        for (const auto& block : blocks)
            text += block.second;
        return text;
    }
};

TEST(ChunkedDecoder, DecodesWhateverTheReadsCutItInto)
{
    const std::string body
        = "5\r\nhello\r\n1A;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n 3 \r\nxyz\r\n0\r\nTrailer: x\r\n\r\n";
    for (std::size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
        ChunkedDecoder decoder;
        EXPECT_EQ(decodeInPieces(decoder, body, piece), "helloabcdefghijklmnopqrstuvwxyzxyz") << piece;
        EXPECT_TRUE(decoder.ended()) << piece;
    }
    // LF-only line ends work as well.
    ChunkedDecoder lfOnly;
    EXPECT_EQ(decodeInPieces(lfOnly, "3\nabc\n0\n\n", 4), "abc");
    EXPECT_TRUE(lfOnly.ended());
}

TEST(ChunkedDecoder, BadSizeLinesAreErrors)
{
    const std::string bodies[] = {
        "zz\r\ndata\r\n",
        "\r\n",
        "5 5x\r\nhello\r\n",
        "1000000000000000\r\n",  // 16 significant digits
        std::string(kMaxChunkLineLength + 10, '1'),
    };
    for (const std::string& body : bodies) {
        ChunkedDecoder decoder;
        EXPECT_EQ(decodeInPieces(decoder, body, 3), std::nullopt) << body.substr(0, 20);
        EXPECT_FALSE(decoder.error().empty());
        EXPECT_FALSE(decoder.ended());
    }
    // Leading zeros are not digits that count.
    ChunkedDecoder zeros;
    EXPECT_EQ(decodeInPieces(zeros, "00000000000000000003\r\nabc\r\n0\r\n\r\n", 5), "abc");
}

TEST(HoldBack, KeepsTheLastBytesAndHandsOverTheRestInOrder)
{
    HoldBack holdBack(4);
    std::string handed;
    const auto sink = [&](std::span<const uint8_t> block) {
        handed.append(block.begin(), block.end());
        return WriteResult::Continue;
    };
    EXPECT_EQ(holdBack.push(bytes("ab"), sink), WriteResult::Continue);
    EXPECT_EQ(handed, "");
    holdBack.push(bytes("cdef"), sink);
    EXPECT_EQ(handed, "ab");
    EXPECT_EQ(holdBack.held(), 4u);
    holdBack.push(bytes("ghijklmn"), sink);
    EXPECT_EQ(handed, "abcdefghij");
    holdBack.flush(sink);
    EXPECT_EQ(handed, "abcdefghijklmn");
    EXPECT_EQ(holdBack.held(), 0u);

    // A stop from the job window ends the push and forgets the held bytes.
    HoldBack stopped(2);
    stopped.push(bytes("xy"), sink);
    EXPECT_EQ(stopped.push(bytes("zz"), [](std::span<const uint8_t>) { return WriteResult::Stop; }), WriteResult::Stop);
    EXPECT_EQ(stopped.held(), 0u);
}

TEST(HttpBodyReader, HandsBlocksOverAtTheirOffsetsAndStopsAtTheEnd)
{
    Recorder recorder;
    HttpBodyReader body({1000, 1010, false, 0});
    std::vector<uint8_t> first = bytes("0123456");
    EXPECT_EQ(body.take(first, recorder.sink()), BodyStatus::Continue);
    std::vector<uint8_t> second = bytes("789EXTRA-BYTES");
    EXPECT_EQ(body.take(second, recorder.sink()), BodyStatus::Continue);
    EXPECT_TRUE(body.complete());
    ASSERT_EQ(recorder.blocks.size(), 2u);
    EXPECT_EQ(recorder.blocks[0], (std::pair<int64_t, std::string>{1000, "0123456"}));
    EXPECT_EQ(recorder.blocks[1], (std::pair<int64_t, std::string>{1007, "789"}));
    EXPECT_EQ(body.offset(), 1010);
}

TEST(HttpBodyReader, RefusedFirstBlockIsNotCountedAsAccepted)
{
    Recorder recorder;
    recorder.answer = WriteResult::Reconnect;
    HttpBodyReader body({0, std::nullopt, false, 0});
    std::vector<uint8_t> block = bytes("abc");
    EXPECT_EQ(body.take(block, recorder.sink()), BodyStatus::Reconnect);
    EXPECT_FALSE(body.accepted());
    EXPECT_EQ(body.offset(), 0);
}

TEST(HttpBodyReader, ChunkedThroughAProxyHoldsBackUntilTheEnd)
{
    Recorder recorder;
    HttpBodyReader body({0, std::nullopt, true, 4});
    std::vector<uint8_t> block = bytes("a\r\n0123456789\r\n");
    EXPECT_EQ(body.take(block, recorder.sink()), BodyStatus::Continue);
    EXPECT_EQ(recorder.all(), "012345");
    EXPECT_EQ(body.reached(), 10);
    EXPECT_FALSE(body.complete());
    EXPECT_EQ(decideBodyEnd(body, -1).action, BodyEnd::Short);

    std::vector<uint8_t> end = bytes("0\r\n\r\n");
    body.take(end, recorder.sink());
    EXPECT_TRUE(body.complete());
    EXPECT_EQ(decideBodyEnd(body, -1).action, BodyEnd::HandOverAndDone);
    EXPECT_EQ(body.flush(recorder.sink()), BodyStatus::Continue);
    EXPECT_EQ(recorder.all(), "0123456789");

    HttpBodyReader broken({0, std::nullopt, true, 0});
    std::vector<uint8_t> bad = bytes("g\r\n");
    EXPECT_EQ(broken.take(bad, recorder.sink()), BodyStatus::Error);
    EXPECT_NE(broken.error().find("chunk size"), std::string::npos);
}

TEST(DecideBodyEnd, WholeShortAndUnknownBodies)
{
    Recorder recorder;
    std::vector<uint8_t> block = bytes("0123456789");

    HttpBodyReader unknown({0, std::nullopt, false, 0});
    unknown.take(block, recorder.sink());
    EXPECT_EQ(decideBodyEnd(unknown, -1).action, BodyEnd::HandOverAndDone);
    EXPECT_EQ(decideBodyEnd(unknown, 10).action, BodyEnd::HandOverRest);
    EXPECT_EQ(decideBodyEnd(unknown, 11).action, BodyEnd::HandOverRest);  // one byte short is let through
    const BodyEndDecision shortOfSize = decideBodyEnd(unknown, 12);
    EXPECT_EQ(shortOfSize.action, BodyEnd::Short);
    EXPECT_EQ(shortOfSize.reason, "The connection closed at byte 10 of 12.");

    HttpBodyReader announced({0, 20, false, 0});
    announced.take(block, recorder.sink());
    const BodyEndDecision cut = decideBodyEnd(announced, -1);
    EXPECT_EQ(cut.action, BodyEnd::Short);
    EXPECT_EQ(cut.reason, "The connection closed after 10 of 20 bytes.");
}

// The causes a job's failure line shows follow the current language, with
// the server's bytes and the counts in their places.
TEST(HttpBody, TheCausesAreInTheCurrentLanguage)
{
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n41612=ung\xC3\xBCltige Content-Length: %1\n"
                                       "41617=ung\xC3\xBCltige Blockgr\xC3\xB6\xC3\x9F" "e: %1\n"
                                       "41622=nach %1 von %2 Bytes geschlossen\n41623=bei Byte %1 von %2 geschlossen\n");
    german->fileName = "kxdeu.ini";
    setCurrentLanguage(std::move(german));

    ChunkedDecoder decoder;
    EXPECT_FALSE(decodeInPieces(decoder, "z%2\r\ndata\r\n", 64).has_value());
    // A placeholder the server sends is its text, not one filled in again.
    EXPECT_EQ(decoder.error(), "ung\xC3\xBCltige Blockgr\xC3\xB6\xC3\x9F" "e: z%2");

    Recorder recorder;
    std::vector<uint8_t> block = bytes("0123456789");
    HttpBodyReader unknown({0, std::nullopt, false, 0});
    unknown.take(block, recorder.sink());
    EXPECT_EQ(decideBodyEnd(unknown, 12).reason, "bei Byte 10 von 12 geschlossen");
    HttpBodyReader announced({0, 20, false, 0});
    announced.take(block, recorder.sink());
    EXPECT_EQ(decideBodyEnd(announced, -1).reason, "nach 10 von 20 Bytes geschlossen");

    HttpResponseParser parser(0, -1);
    for (std::string_view line : {"HTTP/1.1 200 OK", "Content-Length: -20", ""})
        parser.ParseResponseLine(line, nullptr);
    EXPECT_EQ(parser.error(), "ung\xC3\xBCltige Content-Length: -20");
    // A text the file lacks stays English.
    ChunkedDecoder tooLarge;
    EXPECT_FALSE(decodeInPieces(tooLarge, "FFFFFFFFFFFFFFFFFFFF\r\n", 64).has_value());
    EXPECT_EQ(tooLarge.error(), "The server sent a chunk size that does not fit: \"FFFFFFFFFFFFFFFFFFFF\"");
    setCurrentLanguage(nullptr);
    EXPECT_EQ(decideBodyEnd(unknown, 12).reason, "The connection closed at byte 10 of 12.");
}

}  // namespace
}  // namespace fetchora

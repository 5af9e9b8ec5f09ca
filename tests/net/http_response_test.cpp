// Reading an answer's head: line splitting (LF-only servers too), the status
// line, the size and range rules, the headers that name, date and redirect,
// and the broken or hostile heads that must be refused.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "net/http_date.h"
#include "net/http_response.h"
#include "support/recording_log.h"

namespace fetchora {
namespace {

using test::RecordingLog;

// Feeds a whole head, line by line, as the worker does.
HttpResponseParser parse(const std::string& head, int64_t rangeStart = 0, int64_t knownSize = -1,
                         RecordingLog* log = nullptr)
{
    HttpResponseParser parser(rangeStart, knownSize);
    HeaderBuffer buffer;
    std::size_t at = 0;
    while (parser.state() != ResponseState::Body && parser.error().empty()) {
        const std::span<char> room = buffer.room();
        const std::size_t count = std::min(room.size(), head.size() - at);
        std::copy_n(head.data() + at, count, room.data());
        buffer.added(count);
        at += count;
        std::string line;
        bool progressed = false;
        while (parser.state() != ResponseState::Body && parser.error().empty()
               && buffer.nextLine(line) == SplitStatus::Line) {
            parser.ParseResponseLine(line, log);
            progressed = true;
        }
        if (!progressed && count == 0)
            break;
    }
    return parser;
}

TEST(SplitHeaderLine, LoneLineFeedsEndLinesUntilTheFirstCrLf)
{
    int mode = kLineModeStart;
    std::string line;
    std::size_t used = 0;
    ASSERT_EQ(SplitHeaderLine(mode, "HTTP/1.0 200 OK\nA: 1\r\nB: 2\nC: 3\r\n", line, used), SplitStatus::Line);
    EXPECT_EQ(line, "HTTP/1.0 200 OK");
    EXPECT_EQ(used, 16u);
    EXPECT_EQ(mode, kLineModeStart);
    ASSERT_EQ(SplitHeaderLine(mode, "A: 1\r\nB: 2\nC: 3\r\n", line, used), SplitStatus::Line);
    EXPECT_EQ(line, "A: 1");
    EXPECT_EQ(mode, kLineModeCrLf);
    // From now on a lone LF is part of the line.
    ASSERT_EQ(SplitHeaderLine(mode, "B: 2\nC: 3\r\n", line, used), SplitStatus::Line);
    EXPECT_EQ(line, "B: 2\nC: 3");
    EXPECT_EQ(SplitHeaderLine(mode, "partial", line, used), SplitStatus::NeedMore);
}

TEST(SplitHeaderLine, LineFeedPairGivesTheLineAndThenAnEmptyLine)
{
    HeaderBuffer buffer;
    const std::string bytes = "\r\n\nHTTP/1.0 200 OK\nServer: old\n\nBODY";
    std::copy(bytes.begin(), bytes.end(), buffer.room().data());
    buffer.added(bytes.size());
    std::vector<std::string> lines;
    std::string line;
    while (buffer.nextLine(line) == SplitStatus::Line) {
        lines.push_back(line);
        if (line.empty())
            break;
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"HTTP/1.0 200 OK", "Server: old", ""}));
    const auto rest = buffer.rest();
    EXPECT_EQ(std::string(rest.begin(), rest.end()), "BODY");
}

TEST(ParseResponseLine, StatusLineSetsOutcomeAndResume)
{
    EXPECT_EQ(parse("HTTP/1.0 200 OK\r\n\r\n").info().resume, ResumeInfo::Unknown);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\n").info().resume, ResumeInfo::Honoured);
    EXPECT_EQ(parse("  HTTP/1.1 206 Partial\r\n\r\n").info().resume, ResumeInfo::Honoured);
    const std::pair<std::string, ResponseOutcome> cases[] = {
        {"HTTP/1.1 200 OK", ResponseOutcome::Success},       {"HTTP/1.1 301 Moved", ResponseOutcome::Redirect},
        {"HTTP/1.1 302 Found", ResponseOutcome::Redirect},   {"HTTP/1.1 303 Other", ResponseOutcome::Redirect},
        {"HTTP/1.1 307 Temp", ResponseOutcome::Redirect},    {"HTTP/1.1 404 NF", ResponseOutcome::NotFound},
        {"HTTP/1.1 401 Auth", ResponseOutcome::NotFound},    {"HTTP/1.1 407 Proxy", ResponseOutcome::NotFound},
        {"HTTP/1.1 403 No", ResponseOutcome::NotFound},    {"HTTP/1.1 500 Oops", ResponseOutcome::OtherError},
        {"HTTP/1.1 416 Range", ResponseOutcome::OtherError}, {"garbage", ResponseOutcome::NotFound},
        {"HTTP/1.1 2x0 Odd", ResponseOutcome::OtherError},
    };
    for (const auto& [status, outcome] : cases)
        EXPECT_EQ(parse(status + "\r\n\r\n").info().outcome, outcome) << status;
}

TEST(ParseResponseLine, ContentLengthGivesSizeFromTheRangeStart)
{
    const HttpResponseParser ranged = parse("HTTP/1.1 206 P\r\nContent-Length: 4000\r\n\r\n", 1000);
    EXPECT_EQ(ranged.info().size, 5000);
    EXPECT_EQ(ranged.bodyOffset(), 1000);
    EXPECT_EQ(ranged.bodyEnd(), 5000);

    // The whole file again: its length equals the known size.
    const HttpResponseParser whole = parse("HTTP/1.1 206 P\r\nContent-Length: 5000\r\n\r\n", 1000, 5000);
    EXPECT_EQ(whole.info().resume, ResumeInfo::NotHonoured);
    EXPECT_EQ(whole.info().size, 5000);

    // A plain 200 to a ranged request is the whole file, from byte 0.
    const HttpResponseParser ignored = parse("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n", 1000);
    EXPECT_EQ(ignored.info().resume, ResumeInfo::NotHonoured);
    EXPECT_EQ(ignored.info().size, 3000);
    EXPECT_EQ(ignored.bodyOffset(), 0);
    EXPECT_EQ(ignored.bodyEnd(), 3000);

    // So is a chunked 200 that gives no length at all.
    const HttpResponseParser chunked
        = parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nETag: \"v1-abc\"\r\n\r\n", 1000);
    EXPECT_EQ(chunked.info().resume, ResumeInfo::NotHonoured);
    EXPECT_EQ(chunked.bodyOffset(), 0);
    EXPECT_EQ(chunked.info().etag, "\"v1-abc\"");
    // From byte 0 a 200 is what was asked for.
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n").info().resume, ResumeInfo::Honoured);
}

TEST(ParseResponseLine, ContentRangeRules)
{
    // The server started at the beginning after all.
    const HttpResponseParser fromZero = parse("HTTP/1.1 206 P\r\nContent-Range: bytes 0-4999/5000\r\n\r\n", 1000, 5000);
    EXPECT_EQ(fromZero.info().resume, ResumeInfo::NotHonoured);
    EXPECT_EQ(fromZero.info().size, 5000);
    EXPECT_EQ(fromZero.bodyOffset(), 0);

    // A server that gives the remaining length as the total.
    const HttpResponseParser remaining
        = parse("HTTP/1.1 206 P\r\nContent-Range: bytes 1000-4999/4000\r\n\r\n", 1000, 5000);
    EXPECT_EQ(remaining.info().size, 5000);
    EXPECT_EQ(remaining.info().resume, ResumeInfo::Honoured);

    // A range that starts elsewhere is read at the offset it names.
    const HttpResponseParser elsewhere
        = parse("HTTP/1.1 206 P\r\nContent-Length: 100\r\nContent-Range: bytes 2000-2099/5000\r\n\r\n", 1000);
    EXPECT_EQ(elsewhere.bodyOffset(), 2000);
    EXPECT_EQ(elsewhere.bodyEnd(), 2100);

    const HttpResponseParser fromStart = parse("HTTP/1.1 206 P\r\nContent-Range: bytes 0-99/7000\r\n\r\n");
    EXPECT_EQ(fromStart.info().size, 7000);
    EXPECT_EQ(fromStart.bodyEnd(), 100);
}

TEST(ParseResponseLine, HostileNumbersAreRefusedWithAReason)
{
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 11\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes -1-5/10\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-99999999999999999999/10\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 50-10/100\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-99/50\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: items 0-9/10\r\n\r\n",
    };
    for (const std::string& head : heads) {
        const HttpResponseParser parser = parse(head);
        EXPECT_FALSE(parser.error().empty()) << head;
        EXPECT_NE(parser.state(), ResponseState::Body) << head;
    }
    // Beyond the size the job knows (a range start past 0 takes the total).
    EXPECT_FALSE(parse("HTTP/1.1 206 P\r\nContent-Range: bytes 6000-6999/5000\r\n\r\n", 6000).error().empty());
    // Content-Length past the largest offset.
    EXPECT_FALSE(parse("HTTP/1.1 206 P\r\nContent-Length: 9223372036854775807\r\n\r\n", 10).error().empty());
}

TEST(ParseResponseLine, EndlessHeadersAreCutOff)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (std::size_t i = 0; i < kMaxHeaderLines + 10; ++i)
        head += "X-Filler-" + std::to_string(i) + ": x\r\n";
    const HttpResponseParser parser = parse(head + "\r\n");
    EXPECT_NE(parser.error().find("header lines"), std::string::npos) << parser.error();
}

TEST(ParseResponseLine, LastModifiedIsNormalisedAndParsed)
{
    EXPECT_EQ(NormaliseLastModified(" Wed, 21 Oct 2015 07:28:00 GMT "), "21 Oct 2015 07:28:00");
    EXPECT_EQ(NormaliseLastModified("Wed, 21 Oct 2015 07:28:00 gmt"), "21 Oct 2015 07:28:00");
    EXPECT_EQ(NormaliseLastModified("Sun Nov  6 08:49:37 1994"), "1994 Nov  6 08:49:37");
    EXPECT_EQ(NormaliseLastModified("Sunday, 06-Nov-94 08:49:37 GMT"), "06-Nov-94 08:49:37");

    EXPECT_EQ(HttpDateSeconds("21 Oct 2015 07:28:00"), 1445412480);
    EXPECT_EQ(HttpDateSeconds("1994 Nov  6 08:49:37"), 784111777);
    EXPECT_EQ(HttpDateSeconds("06-Nov-94 08:49:37"), 784111777);
    EXPECT_EQ(HttpDateSeconds("SUNDAY, 06-NOV-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(HttpDateSeconds("29 Feb 2000 00:00:00"), 951782400);
    EXPECT_EQ(HttpDateSeconds("29 Feb 2001 00:00:00"), std::nullopt);
    EXPECT_EQ(HttpDateSeconds("32 Jan 2001 00:00:00"), std::nullopt);
    EXPECT_EQ(HttpDateSeconds("1 Jan 2001 24:00:00"), std::nullopt);
    EXPECT_EQ(HttpDateSeconds("1 Foo 2001 10:00:00"), std::nullopt);
    EXPECT_EQ(HttpDateSeconds("1 Jan 2200 10:00:00"), std::nullopt);  // past a 32-bit time
    EXPECT_EQ(HttpDateSeconds(""), std::nullopt);

    const HttpResponseParser parser = parse("HTTP/1.1 200 OK\r\nLast-Modified: Sun Nov  6 08:49:37 1994\r\n\r\n");
    EXPECT_EQ(parser.info().lastModified, "1994 Nov  6 08:49:37");
}

TEST(ParseResponseLine, ContentDispositionNameNeverLeavesTheFolder)
{
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"report.pdf\""), "report.pdf");
    EXPECT_EQ(ContentDispositionFileName("attachment; FILENAME=plain.txt; size=3"), "plain.txt");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"../../etc/passwd\""), "passwd");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"C:\\Windows\\evil.exe\""), "evil.exe");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=/abs/path/x.bin"), "x.bin");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"a\x01\x1f"
                                         "b.txt\""),
              "ab.txt");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"..\""), "");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"dir/..\""), "");
    EXPECT_EQ(ContentDispositionFileName("inline"), "");
}

TEST(ParseResponseLine, ExtendedContentDispositionNameWinsOverThePlainOne)
{
    EXPECT_EQ(ContentDispositionFileName("attachment; filename=\"fallback.txt\"; filename*=UTF-8''r%C3%A9sum%C3%A9.pdf"),
              "r\xc3\xa9sum\xc3\xa9.pdf");
    EXPECT_EQ(ContentDispositionFileName("attachment; FILENAME*=utf-8'en'%E2%82%AC%20rates.txt; filename=x.txt"),
              "\xe2\x82\xac rates.txt");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename*=iso-8859-1''caf%E9.txt"), "caf\xc3\xa9.txt");
    // The decoded name is held to the folder like the plain one.
    EXPECT_EQ(ContentDispositionFileName("attachment; filename*=UTF-8''..%2F..%2Fevil.sh"), "evil.sh");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename*=UTF-8''a%01b.txt"), "ab.txt");
    // A broken or unknown encoding falls back to the plain name.
    EXPECT_EQ(ContentDispositionFileName("attachment; filename*=UTF-8''bad%2; filename=ok.txt"), "ok.txt");
    EXPECT_EQ(ContentDispositionFileName("attachment; filename*=koi8-r''x.txt; filename=ok.txt"), "ok.txt");
    // "filename" inside another parameter's value is no parameter.
    EXPECT_EQ(ContentDispositionFileName("attachment; note=\"myfilename=x\"; filename=real.bin"), "real.bin");
}

TEST(ParseResponseLine, FailuresCarryTheirCauseAndPermanentOnesAreNotFound)
{
    struct Case {
        const char* status;
        ResponseOutcome outcome;
        const char* cause;
    };
    const Case cases[] = {
        {"HTTP/1.1 404 Not Found", ResponseOutcome::NotFound, "HTTP 404 Not Found"},
        {"HTTP/1.1 403 Forbidden", ResponseOutcome::NotFound, "HTTP 403 Forbidden"},
        {"HTTP/1.1 410 Gone", ResponseOutcome::NotFound, "HTTP 410 Gone"},
        {"HTTP/1.1 401 Unauthorized", ResponseOutcome::NotFound, "HTTP 401 Unauthorized"},
        {"HTTP/1.0 503 Service Unavailable", ResponseOutcome::OtherError, "HTTP 503 Service Unavailable"},
        {"HTTP/1.1 429 Too Many Requests", ResponseOutcome::OtherError, "HTTP 429 Too Many Requests"},
        {"HTTP/1.1 500", ResponseOutcome::OtherError, "HTTP 500"},
        {"HTTP/1.1 200 OK", ResponseOutcome::Success, ""},
        {"HTTP/1.1 302 Found", ResponseOutcome::Redirect, ""},
    };
    for (const Case& c : cases) {
        const HttpResponseParser parser = parse(std::string(c.status) + "\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(parser.info().outcome, c.outcome) << c.status;
        EXPECT_EQ(parser.info().cause, c.cause) << c.status;
        EXPECT_EQ(parser.info().retryAfterSeconds, -1) << c.status;
    }
}

TEST(ParseResponseLine, RetryAfterInSecondsOrAsADate)
{
    const HttpResponseParser busy = parse("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 7\r\n\r\n");
    EXPECT_EQ(busy.info().retryAfterSeconds, 7);
    const HttpResponseParser junk = parse("HTTP/1.1 503 Service Unavailable\r\nRetry-After: soon\r\n\r\n");
    EXPECT_EQ(junk.info().retryAfterSeconds, -1);

    const int64_t now = *HttpDateSeconds("Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:30 GMT", now), 30);
    EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:00:00 GMT", now), 0);
    EXPECT_EQ(ParseRetryAfter(" 120 ", now), 120);
    EXPECT_EQ(ParseRetryAfter("99999999999999", now), 2147483647);
    EXPECT_EQ(ParseRetryAfter("-5", now), std::nullopt);
}

TEST(ParseResponseLine, ASecureRedirectCookieIsKeptApart)
{
    const HttpResponseParser redirect = parse("HTTP/1.1 302 Found\r\nLocation: /next\r\n"
                                              "Set-Cookie: plain=1; Path=/\r\n"
                                              "Set-Cookie: token=s3; Path=/; secure; HttpOnly\r\n\r\n");
    EXPECT_EQ(redirect.info().cookie, "plain=1");
    EXPECT_EQ(redirect.info().secureCookie, "token=s3");
}

TEST(ParseResponseLine, CookiesLocationAndChunkedFlag)
{
    const HttpResponseParser redirect = parse("HTTP/1.1 302 Found\r\nLocation: /next\r\nSet-Cookie: sid=1; Path=/\r\n"
                                              "Set-Cookie: lang=en\r\n\r\n");
    EXPECT_EQ(redirect.info().location, "/next");
    EXPECT_EQ(redirect.info().cookie, "sid=1; lang=en");

    const HttpResponseParser ok = parse("HTTP/1.1 200 OK\r\nSet-Cookie: sid=1\r\nTransfer-Encoding: Chunked\r\n\r\n");
    EXPECT_EQ(ok.info().cookie, "");
    EXPECT_TRUE(ok.chunked());
    EXPECT_EQ(ok.bodyEnd(), std::nullopt);
}

TEST(ParseResponseLine, MultipartHeadEndsAfterTheFirstPartsHeaders)
{
    RecordingLog log;
    const HttpResponseParser parser = parse("HTTP/1.1 206 Partial Content\r\n"
                                            "Content-Type: multipart/byteranges; boundary=00000000001\r\n"
                                            "Content-Length: 300\r\n"
                                            "\r\n"
                                            "\r\n"
                                            "--00000000001\r\n"
                                            "Content-Type: text/plain\r\n"
                                            "Content-Range: bytes 100-149/1000\r\n"
                                            "\r\n",
                                            100, -1, &log);
    ASSERT_EQ(parser.state(), ResponseState::Body) << parser.error();
    EXPECT_EQ(parser.info().size, 1000);
    EXPECT_EQ(parser.bodyOffset(), 100);
    // The part ends where its range ends, not at the multipart length.
    EXPECT_EQ(parser.bodyEnd(), 150);
    EXPECT_TRUE(log.has(ConnectionLogKind::Received, "Content-Range: bytes 100-149/1000"));
}

}  // namespace
}  // namespace fetchora

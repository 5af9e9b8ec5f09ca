#include "model/part_log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

struct RecordingSink : PartLogSink {
    std::vector<std::pair<const PartLog*, LogEntry>> lines;
    bool fail = false;
    void partLogged(const PartLog& log, const LogEntry& entry) override
    {
        lines.emplace_back(&log, entry);
        if (fail)
            throw std::runtime_error("window gone");
    }
};

TEST(PartLogTest, KeepsTheNewestTwoHundredLines)
{
    PartLog log;
    for (int i = 1; i <= 201; ++i)
        log.add(LogKind::Status, "line " + std::to_string(i), i);
    ASSERT_EQ(log.entries().size(), 200u);
    EXPECT_EQ(log.entries().front().text, "line 2");
    EXPECT_EQ(log.entries().back().text, "line 201");
    for (int i = 202; i <= 1000; ++i)
        log.add(LogKind::Error, "line " + std::to_string(i), i);
    ASSERT_EQ(log.entries().size(), 200u);
    EXPECT_EQ(log.entries().front().text, "line 801");
    EXPECT_EQ(log.entries().front().time, 801);
}

TEST(PartLogTest, EveryLineReachesTheSinkAndASinkFailureIsSwallowed)
{
    PartLog log(3);
    RecordingSink sink;
    log.add(LogKind::Sent, "GET /file HTTP/1.1", 100, &sink);
    sink.fail = true;
    EXPECT_NO_THROW(log.add(LogKind::Received, "HTTP/1.1 206 Partial Content", 101, &sink));
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0].first, &log);
    EXPECT_EQ(sink.lines[0].first->partIndex(), 3u);
    EXPECT_EQ(sink.lines[1].second.kind, LogKind::Received);
    EXPECT_EQ(sink.lines[1].second.text, "HTTP/1.1 206 Partial Content");
    // The line stays in the log even though the window failed.
    EXPECT_EQ(log.entries().size(), 2u);
}

TEST(PartLogTest, MessagesTakeTheirTextAndKindFromTheTable)
{
    PartLog log;
    log.addMessage(61214, 10);
    log.addMessage(61212, 11);
    log.addMessage(61362, 12);
    log.addMessage(61210, LogKind::Status, 13, nullptr, {"http://127.0.0.1/a%20b", "127.0.0.1"});
    log.addMessage(61219, 14, nullptr, {"5"});
    log.addMessage(61221, 15);  // the protocol decides the kind; status by default

    const auto& e = log.entries();
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].text, "Closed.");
    EXPECT_EQ(e[0].kind, LogKind::Status);
    EXPECT_EQ(e[1].text, "Cannot resolve host name");
    EXPECT_EQ(e[1].kind, LogKind::Error);
    EXPECT_EQ(e[2].text, "Start Ping.");
    EXPECT_EQ(e[2].kind, LogKind::Sent);
    // A "%20" inside an argument is not taken for a field.
    EXPECT_EQ(e[3].text, "Connecting http://127.0.0.1/a%20b [IP=127.0.0.1]");
    EXPECT_EQ(e[4].text, "Wait 5 second for retry");
    EXPECT_EQ(e[4].kind, LogKind::Status);
    EXPECT_EQ(e[5].text, "Start Receiving Data!");
}

TEST(PartLogTest, MessageKindsFollowTheTable)
{
    for (uint32_t id : {61212u, 61216u, 61218u, 61220u, 61241u, 61250u, 61252u, 61272u, 61277u, 61287u, 61288u, 61299u,
                        61346u, 61360u, 61425u, 61426u}) {
        EXPECT_EQ(messageKind(id), LogKind::Error) << id;
    }
    for (uint32_t id : {61214u, 61219u, 61244u, 61276u, 61293u, 61294u, 61298u, 61313u}) {
        EXPECT_EQ(messageKind(id), LogKind::Status) << id;
    }
    EXPECT_EQ(messageKind(61362), LogKind::Sent);
    EXPECT_EQ(messageKind(61210), std::nullopt);
}

TEST(PartLogTest, JobLinesGoToTheFirstPartOrAreDropped)
{
    RecordingSink sink;
    EXPECT_FALSE(logOnJob(nullptr, LogKind::Error, "lost", 1, &sink));
    EXPECT_FALSE(logMessageOnJob(nullptr, 61299, 1, &sink));
    EXPECT_TRUE(sink.lines.empty());

    PartLog first(0);
    EXPECT_TRUE(logMessageOnJob(&first, 61299, 2, &sink));
    ASSERT_EQ(first.entries().size(), 1u);
    EXPECT_EQ(first.entries()[0].text, "Didn't receive any data within 99 tries, should stop.");
    EXPECT_EQ(first.entries()[0].kind, LogKind::Error);
    EXPECT_EQ(sink.lines.size(), 1u);
}

TEST(PartLogTest, SavedLogHasDateSpaceTextAndCrLfPerLine)
{
    PartLog log;
    log.add(LogKind::Status, "Connected.", 1000000000);
    log.add(LogKind::Sent, "RETR /x", 1000000001);
    const std::string expected
        = formatLogTime(1000000000) + " Connected.\r\n" + formatLogTime(1000000001) + " RETR /x\r\n";
    EXPECT_EQ(savedLogText(log), expected);
    EXPECT_EQ(formatLogTime(1000000000).size(), 19u);  // "YYYY-MM-DD HH:MM:SS"

    test::TempDir dir;
    test::writeFile(dir / "old.log", "something older and longer than the new text\r\n");
    ASSERT_TRUE(saveLogFile(log, dir / "old.log"));
    EXPECT_EQ(test::readFile(dir / "old.log"), expected);
    EXPECT_FALSE(saveLogFile(log, dir / "missing" / "x.log"));
}

}  // namespace
}  // namespace fetchora

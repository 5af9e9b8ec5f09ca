#include "shell/service_topics.h"

#include "engine/job_progress.h"
#include "model/job_database.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(OpenUrlItem, SplitsAtTheFirstTwoCommasAndKeepsTheRestInTheComment)
{
    OpenUrlItem item = SplitOpenUrlItem("http://a/f.zip,http://a/page,see, also this");
    EXPECT_EQ(item.url, "http://a/f.zip");
    EXPECT_EQ(item.referer, "http://a/page");
    EXPECT_EQ(item.comment, "see, also this");

    item = SplitOpenUrlItem("http://a/f.zip");
    EXPECT_EQ(item.url, "http://a/f.zip");
    EXPECT_TRUE(item.referer.empty());
    EXPECT_TRUE(item.comment.empty());

    item = SplitOpenUrlItem("http://a/f.zip,,note");
    EXPECT_TRUE(item.referer.empty());
    EXPECT_EQ(item.comment, "note");

    item = SplitOpenUrlItem(",http://ref/");
    EXPECT_TRUE(item.url.empty());
    EXPECT_EQ(item.referer, "http://ref/");
}

TEST(OpenUrlItem, TheHandOverTextCarriesTheReferrerOnlyWhenOneWasGiven)
{
    EXPECT_EQ(OpenUrlItemText("http://a/f", "http://r/", true), "http://a/f,http://r/");
    EXPECT_EQ(OpenUrlItemText("http://a/f", "", false), "http://a/f");
    // An empty referrer given on purpose still leaves its comma.
    EXPECT_EQ(OpenUrlItemText("http://a/f", "", true), "http://a/f,");
}

TEST(DownloadInfo, StatusLinesShowSizePercentAndTimeLeft)
{
    EXPECT_EQ(DownloadInfoLine({"a.zip", 1000, 250, 3723}), "a.zip|1000|25%|01:02:03");
    // Truncated, not rounded.
    EXPECT_EQ(DownloadInfoLine({"b.bin", 3, 2, 0}), "b.bin|3|66%|00:00:00");
    // Done but not yet finished shows 99.
    EXPECT_EQ(DownloadInfoLine({"c.iso", 500, 500, 0}), "c.iso|500|99%|00:00:00");
    // No estimate, or more than a day: no time.
    EXPECT_EQ(DownloadInfoLine({"d", 100, 0, -1}), "d|100|0%|");
    EXPECT_EQ(DownloadInfoLine({"e", 100, 1, 24 * 3600}), "e|100|1%|24:00:00");
    EXPECT_EQ(DownloadInfoLine({"e", 100, 1, 24 * 3600 + 1}), "e|100|1%|");
    // Unknown size.
    EXPECT_EQ(DownloadInfoLine({"f.txt", -1, 12345, 10}), "f.txt|||");
    // Sizes beyond 32 bits.
    EXPECT_EQ(DownloadInfoLine({"g", 6000000000LL, 3000000000LL, 59}), "g|6000000000|50%|00:00:59");
    // A zero-byte file and a record that claims more than its size do not
    // divide by zero or pass 99.
    EXPECT_EQ(DownloadInfoLine({"h", 0, 0, -1}), "h|0|0%|");
    EXPECT_EQ(DownloadInfoLine({"i", 10, 20, -1}), "i|10|99%|");
}

TEST(DownloadInfo, ThePercentIsTheListsPercentBelowOneHundred)
{
    struct Case {
        int64_t size;
        int64_t done;
    };
    for (const Case c : {Case{0, 0}, Case{200, 1}, Case{200, 199}, Case{3, 2}, Case{7'000'000'000, 6'999'999'999}}) {
        const std::string cell = formatPercentCell(c.done, c.size);
        const std::string line = DownloadInfoLine({"x", c.size, c.done, -1});
        // Nothing received reads 0 where the list leaves its cell empty.
        const std::string expected = cell.empty() ? "0%" : cell;
        EXPECT_EQ(line, "x|" + std::to_string(c.size) + "|" + expected + "|") << c.size << " " << c.done;
    }
}

TEST(DownloadInfo, TheItemSelectsOneLineAllLinesOrNoData)
{
    const std::vector<DownloadInfoEntry> two = {{"a", 10, 5, 1}, {"b", -1, 0, -1}};
    EXPECT_EQ(DownloadInfoReply(two, "-1"), "a|10|50%|00:00:01\r\nb|||");
    EXPECT_EQ(DownloadInfoReply(two, "-7"), "a|10|50%|00:00:01\r\nb|||");
    EXPECT_EQ(DownloadInfoReply(two, "1"), "a|10|50%|00:00:01");
    EXPECT_EQ(DownloadInfoReply(two, " 2 "), "b|||");
    EXPECT_EQ(DownloadInfoReply(two, "0"), std::nullopt);
    EXPECT_EQ(DownloadInfoReply(two, "3"), std::nullopt);
    EXPECT_EQ(DownloadInfoReply(two, "x"), std::nullopt);
    EXPECT_EQ(DownloadInfoReply(two, "99999999999999999999"), std::nullopt);
    EXPECT_EQ(DownloadInfoReply({}, "-1"), std::nullopt);
}

TEST(DownloadInfo, ItemsAreReadLikeAtoi)
{
    EXPECT_EQ(ReadDecimalItem("12abc"), 12);
    EXPECT_EQ(ReadDecimalItem("  -3"), -3);
    EXPECT_EQ(ReadDecimalItem("+4"), 4);
    EXPECT_EQ(ReadDecimalItem(""), 0);
    EXPECT_EQ(ReadDecimalItem("-"), 0);
    EXPECT_EQ(ReadDecimalItem("99999999999"), 2147483647);
    EXPECT_EQ(ReadDecimalItem("-99999999999"), -2147483647 - 1);
}

TEST(DownloadInfo, EntriesAreTheUnfinishedJobsOfTheQueueInListOrder)
{
    test::TempDir dir;
    JobLock lock;
    CZoviradDoc doc(lock);
    doc.OnNewDocument((dir / "Downloads").string());
    JobDefaults defaults;
    defaults.defaultDownloadFolder = (dir / "Downloads").string();
    auto add = [&](const std::string& url, DownloadJob* category = nullptr) {
        auto job = doc.NewRecord(NodeKind::Job, defaults, 1000);
        EXPECT_TRUE(job->SetUrl(url));
        return doc.AddJob(std::move(job), category);
    };
    DownloadJob* first = add("http://h/first.bin");
    first->SetFileSize(200);
    first->SetCompleted(50);
    DownloadJob* done = add("http://h/done.bin");
    done->SetFileSize(10);
    done->SetCompleted(10);
    done->SetState(JobState::Completed, false);
    add("http://h/second.bin");
    add("http://h/elsewhere.bin", doc.downloaded());

    std::vector<DownloadInfoEntry> entries = DownloadInfoEntries(doc.tree());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(DownloadInfoLine(entries[0]), "first.bin|200|25%|");
    EXPECT_EQ(DownloadInfoLine(entries[1]), "second.bin|||");
}

}  // namespace
}  // namespace fetchora

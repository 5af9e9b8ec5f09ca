#include "lists/html_export.h"

#include <gtest/gtest.h>

#include "model/job_database.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class HtmlExportTest : public ::testing::Test {
protected:
    void SetUp() override { doc.OnNewDocument(dir.path().string()); }

    DownloadJob* category(const std::string& name, DownloadJob* parent)
    {
        return doc.AddCategory(name, (dir / name).string(), parent);
    }

    DownloadJob* job(DownloadJob* in, const std::string& url, int64_t size, int64_t received, bool completed)
    {
        auto record = doc.NewRecord(NodeKind::Job, JobDefaults{}, 1000);
        record->SetUrl(url);
        record->saveFolder = "/data";
        if (size >= 0) {
            record->fileSize = size;
            record->optionFlags |= kOptSizeKnown;
        }
        record->SetCompleted(received);
        if (completed)
            record->SetState(JobState::Completed, false);
        return doc.AddJob(std::move(record), in);
    }

    DownloadJob* game() const
    {
        for (DownloadJob* node : doc.tree().nodes()) {
            if (node->IsCategory() && node->name == "Game")
                return node;
        }
        return nullptr;
    }

    test::TempDir dir;
    JobLock lock;
    CZoviradDoc doc{lock};
};

TEST_F(HtmlExportTest, CategoryPathsSkipSpecialAncestors)
{
    DownloadJob* a = category("A", doc.downloaded());
    DownloadJob* b = category("B", a);
    DownloadJob* c = category("C", b);
    ASSERT_NE(game(), nullptr);
    EXPECT_EQ(CategoryDisplayPath(*game()), "Game");
    EXPECT_EQ(CategoryDisplayPath(*b), "A->B");
    EXPECT_EQ(CategoryDisplayPath(*c), "A->B->C");
    EXPECT_EQ(CategoryDisplayPath(*doc.downloaded()), "Downloaded");
    DownloadJob* rd = category("R&D <x>", a);
    EXPECT_EQ(ExpandCategoryStart("<h1>{C_NAME}</h1>", *rd), "<h1>A->R&amp;D &lt;x&gt;</h1>");
}

TEST_F(HtmlExportTest, SizeTextFollowsStateAndSetting)
{
    struct Case {
        const char* what;
        int64_t size;
        int64_t received;
        bool completed;
        bool inBytes;
        const char* expected;
    };
    const Case cases[] = {
        {"unknown size", -1, 300, false, false, "&nbsp;"},
        {"unfinished", 1000, 250, false, false, " 250 / 1000 "},
        {"completed in kilobytes", 5000, 5000, true, false, " 4K "},
        {"completed in bytes", 5000, 5000, true, true, " 5000 "},
        {"above 4 GiB", 6000000000LL, 5000000000LL, false, true, " 5000000000 / 6000000000 "},
    };
    for (const Case& c : cases) {
        DownloadJob* j = job(doc.downloading(), "http://h/f", c.size, c.received, c.completed);
        EXPECT_EQ(ExportSizeText(*j, c.inBytes), c.expected) << c.what;
    }
}

TEST_F(HtmlExportTest, ItemTokensAreReplacedOnceAndValuesEscaped)
{
    DownloadJob* j = job(doc.downloading(), "http://h/a.zip?x=1&y=2", 1000, 250, false);
    j->referer = "http://ref/";
    j->editTexts().comment = "<b>{F_URL}</b>";
    const std::string item = "{F_NAME}|{F_URL}|{F_REFERER}|{F_SIZE}|{F_COMPLETETIME}|{F_SAVEAS}|{F_COMMENT}|{F_X}";
    EXPECT_EQ(ExpandItem(item, *j, false),
              "a.zip|http://h/a.zip?x=1&amp;y=2|http://ref/| 250 / 1000 |&nbsp;|"
              "/data/a.zip|&lt;b&gt;{F_URL}&lt;/b&gt;|{F_X}");
    j->editTexts().comment.clear();
    j->completeTime = 86400 * 365;
    const std::string expanded = ExpandItem("{F_COMMENT}[{F_COMPLETETIME}]", *j, false);
    EXPECT_EQ(expanded.substr(0, 7), "&nbsp;[");
    EXPECT_NE(expanded.find("1971"), std::string::npos) << expanded;
    EXPECT_EQ(expanded.find('\n'), std::string::npos);
}

TEST_F(HtmlExportTest, PageHasBlocksForSubCategoriesDepthFirstWithLineBreaks)
{
    DownloadJob* top = category("Top", doc.downloaded());
    DownloadJob* first = category("First", top);
    DownloadJob* deep = category("Deep", first);
    DownloadJob* second = category("Second", top);
    job(top, "http://h/t1", -1, 0, false);
    job(deep, "http://h/d1", -1, 0, false);
    job(second, "http://h/s1", -1, 0, false);
    job(top, "http://h/t2", -1, 0, false);

    ExportTemplate format;
    format.fileStart = "<S>";
    format.categoryStart = "[{C_NAME}]";
    format.item = "{F_NAME}";
    format.categoryEnd = "[/]";
    format.fileEnd = "<E>";
    ExportOptions options;
    EXPECT_EQ(BuildHtmlExport(format, *top, options), "<S>[Top]\r\nt1\r\nt2\r\n[/]\r\n<E>");
    options.includeSubCategories = true;
    EXPECT_EQ(BuildHtmlExport(format, *top, options),
              "<S>[Top]\r\nt1\r\nt2\r\n[/]\r\n"
              "[Top->First]\r\n[/]\r\n"
              "[Top->First->Deep]\r\nd1\r\n[/]\r\n"
              "[Top->Second]\r\ns1\r\n[/]\r\n<E>");

    const fs::path out = dir / "export.htm";
    const ExportResult written = WriteHtmlExport(out, format, *top, options, lock);
    ASSERT_TRUE(written.ok) << written.error;
    EXPECT_EQ(test::readFile(out), BuildHtmlExport(format, *top, options));

    const ExportResult failed = WriteHtmlExport(dir / "missing" / "x.htm", format, *top, options, lock);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.error.find("x.htm"), std::string::npos);
}

TEST_F(HtmlExportTest, IndividualLogsAreWrittenBesideEveryJobAndFailuresCounted)
{
    DownloadJob* top = category("Logs", doc.downloaded());
    DownloadJob* sub = category("Sub", top);
    DownloadJob* one = job(top, "http://h/one.bin", 1000, 1000, true);
    DownloadJob* two = job(sub, "http://h/two.bin", 1000, 250, false);
    one->saveFolder = dir.path().string();
    two->saveFolder = dir.path().string();
    two->editTexts().comment = "sub job";

    ExportOptions options;
    options.sizesInBytes = true;
    ExportResult result = ExportIndividualLogs(*top, options, lock);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.filesWritten, 1);
    const std::string log = test::readFile(dir / "one.bin.log");
    EXPECT_NE(log.find("Name:one.bin\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("URL:http://h/one.bin\r\n"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(dir / "two.bin.log"));

    options.includeSubCategories = true;
    two->saveFolder = (dir / "absent").string();
    result = ExportIndividualLogs(*top, options, lock);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.filesWritten, 1);
    EXPECT_EQ(result.filesFailed, 1);
    EXPECT_NE(result.error.find("two.bin.log"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace fetchora

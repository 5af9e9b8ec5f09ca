#include "model/browser_job_fields.h"

#include <gtest/gtest.h>

#include "model/download_job.h"
#include "model/job_database.h"
#include "model/kxd_format.h"

namespace fetchora {
namespace {

TEST(BrowserJobFields, TheAgentSurvivesTheDatabaseFileAndGoesWithAnotherUrl)
{
    JobLock lock;
    CZoviradDoc doc(lock);
    auto fresh = doc.NewRecord(NodeKind::Job, JobDefaults{}, 500);
    ASSERT_TRUE(fresh->SetUrl("http://127.0.0.1/a.bin"));
    SetJobUserAgent(*fresh, "Mozilla/5.0 (X11; Linux x86_64) Test/1.0");
    doc.tree().Insert(nullptr, std::move(fresh));

    JobLock otherLock;
    CZoviradDoc loaded(otherLock);
    KxdLoadOptions options;
    options.defaults.maxParallelNum = 10;
    ASSERT_FALSE(LoadTree(StoreTree(doc.tree()), loaded, options).damaged());
    DownloadJob* back = loaded.tree().nodes().back();
    EXPECT_EQ(JobUserAgent(*back), "Mozilla/5.0 (X11; Linux x86_64) Test/1.0");

    // Another URL is another download: the browser's agent does not follow.
    ASSERT_TRUE(back->SetUrl("http://127.0.0.1/b.bin"));
    EXPECT_EQ(JobUserAgent(*back), "");
}

TEST(BrowserJobFields, AnAgentIsKeptOnlyCleanAndALocationOfAnotherKindIsNoAgent)
{
    DownloadJob job;
    // A record from elsewhere keeps its location, which names no agent.
    job.editTexts().location = "http://example.com/moved";
    EXPECT_EQ(JobUserAgent(job), "");
    SetJobUserAgent(job, "");
    EXPECT_EQ(job.location(), "http://example.com/moved");

    SetJobUserAgent(job, "  Agent/1\r\nX-Injected: yes\t ");
    EXPECT_EQ(JobUserAgent(job), "Agent/1X-Injected: yes");
    SetJobUserAgent(job, std::string(kMaxJobUserAgentBytes + 1, 'a'));
    EXPECT_EQ(JobUserAgent(job), "");
    EXPECT_EQ(job.location(), "");
    SetJobUserAgent(job, std::string(kMaxJobUserAgentBytes, 'a'));
    EXPECT_EQ(JobUserAgent(job).size(), kMaxJobUserAgentBytes);
}

TEST(BrowserJobFields, ASuggestedNameBecomesOneSafeFileName)
{
    const struct {
        const char* suggestion;
        const char* name;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"/home/user/Downloads/report (1).pdf", "report (1).pdf"},
        {"C:\\Users\\me\\Downloads\\setup.exe", "setup.exe"},
        {"../../etc/passwd", "passwd"},
        {"..", ""},
        {".", ""},
        {"dir/", ""},
        {"  .hidden.txt ", "hidden.txt"},
        {"a\x01z:b*?.txt", "a_z_b__.txt"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SuggestedFileName(c.suggestion), c.name) << c.suggestion;
    EXPECT_LE(SuggestedFileName(std::string(600, 'n') + ".zip").size(), 255u);
    EXPECT_TRUE(SuggestedFileName(std::string(600, 'n') + ".zip").ends_with(".zip"));
}

}  // namespace
}  // namespace fetchora

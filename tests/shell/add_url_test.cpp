#include "shell/add_url.h"

#include "config/app_settings.h"
#include "model/job_database.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

class AddUrl : public testing::Test {
protected:
    void SetUp() override
    {
        m_settings.LoadSettings();
        m_doc.OnNewDocument((m_dir / "Downloads").string());
    }

    AddUrlOutcome add(const std::string& url, const std::string& referer = {}, const std::string& comment = {})
    {
        return AddUrlToQueue(m_doc, m_settings, url, referer, comment, 1000);
    }

    test::TempDir m_dir;
    Registry m_registry;
    AppSettings m_settings{m_registry,
                           SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora",
                                               (m_dir / "Downloads").string(), (m_dir / "tmp").string(), "C"}};
    JobLock m_lock;
    CZoviradDoc m_doc{m_lock};
};

TEST_F(AddUrl, ANewUrlBecomesTheLastJobOfTheQueueWithReferrerAndComment)
{
    add("http://example.com/first.zip");
    AddUrlOutcome outcome = add("http://example.com/a.zip", "http://example.com/page", "from the browser");
    ASSERT_EQ(outcome.result, AddUrlResult::Added);
    ASSERT_NE(outcome.job, nullptr);
    EXPECT_EQ(outcome.job->parent(), m_doc.downloading());
    EXPECT_EQ(m_doc.downloading()->lastChild(), outcome.job);
    EXPECT_EQ(outcome.job->url, "http://example.com/a.zip");
    EXPECT_EQ(outcome.job->referer, "http://example.com/page");
    EXPECT_EQ(outcome.job->comment, "from the browser");
    EXPECT_EQ(outcome.job->GetDisplayName(), "a.zip");
    // The settings' default start mode is Immediately: the queue may start it.
    EXPECT_EQ(outcome.job->startMode, StartMode::Immediately);
    EXPECT_TRUE(outcome.fillQueue);
}

TEST_F(AddUrl, TextThatIsNoFetchableUrlIsRefusedWithoutAJob)
{
    const size_t before = m_doc.tree().size();
    for (const std::string text : {"", "not a url", "http://", "pnm://host/stream", "mailto:x@y"}) {
        SCOPED_TRACE(text);
        AddUrlOutcome outcome = add(text);
        EXPECT_EQ(outcome.result, AddUrlResult::Invalid);
        EXPECT_FALSE(outcome.fillQueue);
    }
    EXPECT_EQ(m_doc.tree().size(), before);
}

TEST_F(AddUrl, AUrlAlreadyInTheQueueIsNotAddedAgainButMadeToStart)
{
    DownloadJob* job = add("http://example.com/a.zip").job;
    ASSERT_NE(job, nullptr);
    job->SetStartMode(StartMode::Manual);
    const size_t before = m_doc.tree().size();

    AddUrlOutcome again = add("http://example.com/a.zip", "http://other/");
    EXPECT_EQ(again.result, AddUrlResult::AlreadyListed);
    EXPECT_EQ(again.job, job);
    EXPECT_EQ(job->startMode, StartMode::Immediately);
    EXPECT_TRUE(again.fillQueue);
    EXPECT_EQ(m_doc.tree().size(), before);
}

TEST_F(AddUrl, AUrlAlreadyDownloadedIsLeftAsItIs)
{
    DownloadJob* job = add("http://example.com/a.zip").job;
    job->SetState(JobState::Completed, false);
    ASSERT_TRUE(m_doc.PlaceCompletedJob(*job));
    AddUrlOutcome again = add("http://example.com/a.zip");
    EXPECT_EQ(again.result, AddUrlResult::AlreadyListed);
    EXPECT_FALSE(again.fillQueue);
    EXPECT_TRUE(job->IsComplete());
    EXPECT_NE(job->parent(), m_doc.downloading());
}

}  // namespace
}  // namespace fetchora

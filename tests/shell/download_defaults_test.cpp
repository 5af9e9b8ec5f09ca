// "Download default" as a job: the sample the defaults sheet edits, the way
// back into the settings, and the two commands of the main view that use them.
#include "shell/download_defaults.h"

#include "config/app_settings.h"
#include "lang/current_language.h"
#include "lang/language_file.h"
#include "model/category_tree.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <memory>

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::RecordingDesktop;
using test::TempDir;
using test::ViewPrompts;

Environment profileEnvironment(const TempDir& dir)
{
    return mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                           {"TMPDIR", dir.path().string()},
                           {"HOME", dir.path().string()},
                           {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}});
}

ProxyEntry proxy(const std::string& title, uint16_t type)
{
    ProxyEntry entry;
    entry.title = title;
    entry.server = "127.0.0.1";
    entry.type = type;
    return entry;
}

DownloadJob* addCategory(CComPtrTree& tree, DownloadJob* parent, CategoryKind kind, const std::string& folder)
{
    auto category = std::make_unique<DownloadJob>();
    category->nodeFlags |= kNodeCategory;
    category->kind = static_cast<uint32_t>(kind);
    category->name = folder;
    category->saveFolder = folder;
    return tree.Insert(parent, std::move(category));
}

class DownloadDefaultsTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_app.start(error)) << error;
        m_root = addCategory(m_tree, nullptr, CategoryKind::Root, "");
        addCategory(m_tree, m_root, CategoryKind::Downloading, "");
        m_downloaded = addCategory(m_tree, m_root, CategoryKind::Downloaded, "/srv/done");
        m_music = addCategory(m_tree, m_downloaded, CategoryKind::User, "/srv/music");
        ASSERT_EQ(m_downloaded->id, kDownloadedCategoryId);
        m_app.settings().proxies().AddProxy(proxy("office", kProxyHttpGet), false);
        m_app.settings().proxies().AddProxy(proxy("ftpgate", kProxyFtpOpen), false);
    }

    TempDir m_dir;
    Application m_app{profileEnvironment(m_dir)};
    CComPtrTree m_tree;
    DownloadJob* m_root = nullptr;
    DownloadJob* m_downloaded = nullptr;
    DownloadJob* m_music = nullptr;
};

TEST_F(DownloadDefaultsTest, TheSampleCarriesEveryDefaultAndTheCategoryFolderWhenNoPathIsSet)
{
    AppSettings& settings = m_app.settings();
    settings.SetOption(OptionId::DefaultCategory, m_music->id);
    settings.SetOption(OptionId::DefaultSplit, 4);
    settings.SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Schedule));
    settings.SetOptionText(OptionId::DefaultUserName, "anna");
    settings.SetOptionText(OptionId::DefaultPassword, "secret");
    settings.SetOptionText(OptionId::DefaultReferer, "http://127.0.0.1:9/");
    settings.SetOption(OptionId::DefaultLogin, 1);
    settings.SetOption(OptionId::DefaultJobSwitch10, 0);
    settings.SetOption(OptionId::DefaultJobSwitch20, 1);
    settings.SetOption(OptionId::DefaultJobSwitch40, 0);
    settings.SetOption(OptionId::FindAlternateUrlsForNewJobs, 0);
    settings.SetOption(OptionId::HttpProxyDefault, 1);
    settings.SetOption(OptionId::FtpProxyDefault, 2);

    DownloadJob sample;
    MakeDefaultsSample(sample, settings, &m_tree);
    EXPECT_EQ(sample.categoryId, m_music->id);
    EXPECT_EQ(sample.saveFolder, "/srv/music");
    EXPECT_EQ(sample.splitCount, 4);
    EXPECT_EQ(sample.startMode, StartMode::Schedule);
    EXPECT_EQ(sample.userName(), "anna");
    EXPECT_EQ(sample.password(), "secret");
    EXPECT_EQ(sample.referer, "http://127.0.0.1:9/");
    EXPECT_EQ(sample.httpProxyId, 1);
    EXPECT_EQ(sample.ftpProxyId, 2);
    EXPECT_EQ(sample.optionFlags
                  & (kOptUseLogin | kOptNoMirrorSearch | kOptFtpSubdirectories | kOptCreateCategory
                     | kOptFtpCreateSubdirectories),
              kOptUseLogin | kOptNoMirrorSearch | kOptCreateCategory);

    settings.SetOptionText(OptionId::DefaultPath, "/srv/elsewhere");
    DownloadJob withPath;
    MakeDefaultsSample(withPath, settings, &m_tree);
    EXPECT_EQ(withPath.saveFolder, "/srv/elsewhere");
}

TEST_F(DownloadDefaultsTest, AnEditedSampleBecomesTheDefaultsAndSurvivesARestart)
{
    DownloadJob sample;
    MakeDefaultsSample(sample, m_app.settings(), &m_tree);
    sample.categoryId = m_music->id;
    sample.saveFolder = "/srv/other";
    sample.splitCount = 6;
    sample.startMode = StartMode::Manual;
    sample.editTexts().userName = "bert";
    sample.editTexts().password = "pw";
    sample.referer = "http://127.0.0.1:9/ref";
    sample.httpProxyId = 1;
    sample.ftpProxyId = 2;
    sample.streamProxyId = 9;  // no such entry
    sample.optionFlags = kOptUseLogin | kOptFtpSubdirectories | kOptFtpCreateSubdirectories | kOptNoMirrorSearch;
    ASSERT_TRUE(SaveJobAsDefaults(m_app, sample, &m_tree));

    auto check = [&](const AppSettings& settings) {
        EXPECT_EQ(settings.GetOption(OptionId::DefaultCategory), m_music->id);
        EXPECT_EQ(settings.GetOptionText(OptionId::DefaultPath), "/srv/other");
        EXPECT_EQ(settings.GetOption(OptionId::DefaultSplit), 6);
        EXPECT_EQ(settings.GetOption(OptionId::DefaultStartMode), 0);
        EXPECT_EQ(settings.GetOptionText(OptionId::DefaultUserName), "bert");
        EXPECT_EQ(settings.GetOptionText(OptionId::DefaultPassword), "pw");
        EXPECT_EQ(settings.GetOptionText(OptionId::DefaultReferer), "http://127.0.0.1:9/ref");
        EXPECT_NE(settings.GetOption(OptionId::DefaultLogin), 0);
        EXPECT_NE(settings.GetOption(OptionId::DefaultJobSwitch10), 0);
        EXPECT_EQ(settings.GetOption(OptionId::DefaultJobSwitch20), 0);
        EXPECT_NE(settings.GetOption(OptionId::DefaultJobSwitch40), 0);
        EXPECT_EQ(settings.GetOption(OptionId::FindAlternateUrlsForNewJobs), 0);
        EXPECT_EQ(settings.GetOption(OptionId::HttpProxyDefault), 1);
        EXPECT_EQ(settings.GetOption(OptionId::FtpProxyDefault), 2);
        EXPECT_EQ(settings.GetOption(OptionId::StreamProxyDefault), 0);
        // The "Login" bits no switch stands for are carried unchanged.
        EXPECT_EQ(settings.values().defaultLogin & 0xF80, 0xF80);
    };
    check(m_app.settings());
    m_app.stop();

    Application again(profileEnvironment(m_dir));
    std::string error;
    ASSERT_TRUE(again.start(error)) << error;
    check(again.settings());
    // A new job starts out with them.
    DownloadJob fresh;
    fresh.ApplyDefaults(NodeKind::Job, JobDefaultsFromSettings(again.settings()), &m_tree, 0);
    EXPECT_EQ(fresh.saveFolder, "/srv/other");
    EXPECT_EQ(fresh.splitCount, 6);
    EXPECT_EQ(fresh.userName(), "bert");
    EXPECT_EQ(fresh.optionFlags & (kOptFtpSubdirectories | kOptCreateCategory), kOptFtpSubdirectories);
}

TEST_F(DownloadDefaultsTest, TheCategoryFolderIsStoredAsNoPathAndLoginOffClearsOnlyTheSwitchBits)
{
    const JobDefaults current = JobDefaultsFromSettings(m_app.settings());
    DownloadJob job;
    job.categoryId = m_music->id;
    job.saveFolder = "/srv/music";
    job.splitCount = 99;
    const JobDefaults defaults = JobDefaultsFromJob(job, current, &m_tree, 3);
    EXPECT_EQ(defaults.path, "");
    EXPECT_EQ(defaults.splitCount, current.maxParallelNum);
    EXPECT_EQ(defaults.login, current.login & ~0x7Fu);

    job.saveFolder = "/srv/done";  // another category's folder is a real choice
    EXPECT_EQ(JobDefaultsFromJob(job, current, &m_tree, 3).path, "/srv/done");
}

TEST_F(DownloadDefaultsTest, TheLastCategoryAndFolderOfANewJobAreRememberedOnlyWhenAskedFor)
{
    DownloadJob job;
    job.categoryId = m_music->id;
    job.saveFolder = "/srv/music";
    job.splitCount = 9;
    EXPECT_FALSE(RememberNewJobCategory(m_app, job, &m_tree));
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultCategory), kDownloadedCategoryId);

    m_app.settings().SetOption(OptionId::RememberLastCategory, 1);
    EXPECT_TRUE(RememberNewJobCategory(m_app, job, &m_tree));
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultCategory), m_music->id);
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultPath), "");
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultSplit), 2);  // only category and folder
    EXPECT_FALSE(RememberNewJobCategory(m_app, job, &m_tree));  // nothing new

    job.saveFolder = "/srv/own";
    EXPECT_TRUE(RememberNewJobCategory(m_app, job, &m_tree));
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultPath), "/srv/own");
}

// ---- the two commands of the main view -----------------------------------------------------

class NoCountdown final : public Countdown {
public:
    void start(const CountdownRequest&, std::function<void(bool)>) override { }
};

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

class QuietHost final : public MainViewHost {
public:
    void bringToFront() override { }
    void requestExit() override { }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return m_countdown; }

private:
    NoCountdown m_countdown;
};

class DefaultCommandsTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_app.start(error)) << error;
        m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        m_view = std::make_unique<MainView>(m_app, m_prompts, m_desktop, m_power, m_host);
        m_view->start();
        m_prompts.asked.clear();
    }
    void TearDown() override
    {
        if (m_view)
            m_view->close();
        m_view.reset();
        m_app.stop();
    }

    TempDir m_dir;
    Application m_app{profileEnvironment(m_dir)};
    ViewPrompts m_prompts;
    RecordingDesktop m_desktop;
    NoPower m_power;
    QuietHost m_host;
    std::unique_ptr<MainView> m_view;
};

TEST_F(DefaultCommandsTest, DefaultPropertiesSavesTheEditedSampleAndCancelKeepsTheSettings)
{
    m_prompts.jobEdit = [](DownloadJob& sample) {
        sample.splitCount = 5;
        sample.referer = "http://127.0.0.1:9/r";
    };
    m_prompts.editAnswers = {false, true};
    ASSERT_TRUE(m_view->run(ViewCommand::DefaultProperties));
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultSplit), 2);
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultReferer), "");

    ASSERT_TRUE(m_view->run(ViewCommand::DefaultProperties));
    EXPECT_EQ(m_prompts.texts("editDefaults"),
              (std::vector<std::string>{"Default download properties", "Default download properties"}));
    EXPECT_TRUE(m_prompts.texts("editJob").empty());
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultSplit), 5);
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultReferer), "http://127.0.0.1:9/r");
    // The sample's folder was the default category's: the path stays empty.
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultPath), "");
}

// The sheet's title follows the language; which sheet opens must not: a
// translated title once opened the defaults as an ordinary job's sheet.
TEST_F(DefaultCommandsTest, TheDefaultsSheetIsAskedForByKindWhateverLanguageItsTitleIsIn)
{
    struct EnglishAfterwards {
        ~EnglishAfterwards() { setCurrentLanguage(nullptr); }
    } english;
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n40951=Standardeigenschaften f\xC3\xBCr Downloads\n");
    setCurrentLanguage(std::move(german));
    m_prompts.jobEdit = [](DownloadJob& sample) { sample.splitCount = 4; };
    ASSERT_TRUE(m_view->run(ViewCommand::DefaultProperties));
    EXPECT_EQ(m_prompts.texts("editDefaults"),
              std::vector<std::string>{"Standardeigenschaften f\xC3\xBCr Downloads"});
    EXPECT_TRUE(m_prompts.texts("editJob").empty());
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultSplit), 4);
}

TEST_F(DefaultCommandsTest, SaveAsDefaultNeedsAFocusedJobAndStoresItsSettings)
{
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::SaveAsDefault));
    AddDownloadRequest request;
    request.text = "http://127.0.0.1:9/a.zip";
    DownloadJob* job = m_view->addDownload(request).job;
    ASSERT_NE(job, nullptr);
    job->splitCount = 7;
    job->editTexts().userName = "carl";
    m_view->list().rebuild();
    m_view->list().setSelection({job});
    m_view->list().setFocusedJob(job);
    ASSERT_TRUE(m_view->isEnabled(ViewCommand::SaveAsDefault));
    ASSERT_TRUE(m_view->run(ViewCommand::SaveAsDefault));
    EXPECT_EQ(m_app.settings().GetOption(OptionId::DefaultSplit), 7);
    EXPECT_EQ(m_app.settings().GetOptionText(OptionId::DefaultUserName), "carl");
}

TEST_F(DefaultCommandsTest, PropertiesOfSeveralJobsChangeOnlyWhatTheSheetChanged)
{
    std::vector<DownloadJob*> jobs;
    for (int n = 1; n <= 3; ++n) {
        AddDownloadRequest request;
        request.text = "http://127.0.0.1:9/f" + std::to_string(n) + ".bin";
        DownloadJob* job = m_view->addDownload(request).job;
        ASSERT_NE(job, nullptr);
        job->splitCount = n;
        job->saveFolder = (m_dir / ("f" + std::to_string(n))).string();
        jobs.push_back(job);
    }
    m_view->list().rebuild();
    m_view->list().setSelection(jobs);
    m_view->list().setFocusedJob(jobs[0]);
    m_prompts.jobEdit = [](DownloadJob& sample) { sample.referer = "http://127.0.0.1:9/page"; };
    ASSERT_TRUE(m_view->run(ViewCommand::Properties));
    EXPECT_EQ(m_prompts.texts("editJobs"), std::vector<std::string>{"Properties"});
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        DownloadJob* job = jobs[static_cast<size_t>(n - 1)];
        EXPECT_EQ(job->referer, "http://127.0.0.1:9/page");
        EXPECT_EQ(job->splitCount, n);
        EXPECT_EQ(job->saveFolder, (m_dir / ("f" + std::to_string(n))).string());
    }

    // A split count is kept within "Max Parallel Num".
    m_app.settings().SetOption(OptionId::MaxParallelNum, 6);
    m_prompts.jobEdit = [](DownloadJob& sample) { sample.splitCount = 25; };
    ASSERT_TRUE(m_view->run(ViewCommand::Properties));
    for (DownloadJob* job : jobs)
        EXPECT_EQ(job->splitCount, 6);
}

}  // namespace
}  // namespace fetchora

#include "shell/main_view.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include "config/app_settings.h"
#include "lang/current_language.h"
#include "lang/language_file.h"
#include "model/job_database.h"
#include "net/base64_codec.h"
#include "net/ftp_list.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "support/category_language.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::filedCategoryNames;
using test::languageOf;
using test::RecordingDesktop;
using test::TempDir;
using test::ViewPrompts;

// Countdowns that end when the test says so.
class HeldCountdown final : public Countdown {
public:
    void start(const CountdownRequest& request, std::function<void(bool ok)> done) override
    {
        started.push_back(request);
        m_done = std::move(done);
    }
    void finish(bool ok)
    {
        auto done = std::move(m_done);
        m_done = {};
        if (done)
            done(ok);
    }
    std::vector<CountdownRequest> started;

private:
    std::function<void(bool)> m_done;
};

class RecordingPower final : public PowerControl {
public:
    bool canPowerOff() override { return true; }
    bool powerOff() override { return ++powerOffs, true; }
    void holdSleepInhibitor(bool held) override { inhibitor.push_back(held); }
    int powerOffs = 0;
    std::vector<bool> inhibitor;
};

class RecordingHost final : public MainViewHost {
public:
    void bringToFront() override { ++fronts; }
    void requestExit() override { ++exits; }
    std::string clipboardText() override { return clipboard; }
    void setClipboardText(const std::string& text) override { clipboard = text; }
    Countdown& countdown() override { return countdowns; }

    int fronts = 0;
    int exits = 0;
    std::string clipboard;
    HeldCountdown countdowns;
};

// A main view over a fresh profile. Jobs start Manually, so that nothing here
// ever opens a connection; the test thread is the loop thread.
class MainViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_app.start(error)) << error;
        m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        m_app.loop().processPending();
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

    DownloadJob* add(const std::string& url, const std::string& referer = {}, const std::string& comment = {})
    {
        AddDownloadRequest request;
        request.text = url;
        request.referer = referer;
        request.comment = comment;
        return m_view->addDownload(request).job;
    }

    CZoviradDoc& doc() { return m_view->doc(); }
    JobListModel& list() { return m_view->list(); }

    // The jobs of a category, in order.
    static std::vector<DownloadJob*> jobsOf(DownloadJob* category)
    {
        std::vector<DownloadJob*> jobs;
        for (DownloadJob* job = category->firstChild(); job; job = job->nextSibling()) {
            if (!job->IsCategory())
                jobs.push_back(job);
        }
        return jobs;
    }

    TempDir m_dir;
    Application m_app{mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                      {"TMPDIR", m_dir.path().string()},
                                      {"HOME", m_dir.path().string()},
                                      {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}})};
    ViewPrompts m_prompts;
    RecordingDesktop m_desktop;
    RecordingPower m_power;
    RecordingHost m_host;
    std::unique_ptr<MainView> m_view;
};

// ---- adding --------------------------------------------------------------------------------

TEST_F(MainViewTest, ANewUrlBecomesTheLastJobOfTheQueueWithReferrerAndComment)
{
    add("http://127.0.0.1:9/first.zip");
    AddDownloadRequest request;
    request.text = "http://127.0.0.1:9/a.zip";
    request.referer = "http://127.0.0.1:9/page";
    request.comment = "from the browser";
    AddDownloadOutcome outcome = m_view->addDownload(request);
    ASSERT_EQ(outcome.result, AddDownloadResult::Added);
    ASSERT_NE(outcome.job, nullptr);
    EXPECT_EQ(outcome.job->parent(), doc().downloading());
    EXPECT_EQ(doc().downloading()->lastChild(), outcome.job);
    EXPECT_EQ(outcome.job->referer, "http://127.0.0.1:9/page");
    EXPECT_EQ(outcome.job->comment(), "from the browser");
    EXPECT_EQ(outcome.job->GetDisplayName(), "a.zip");
    EXPECT_TRUE(m_prompts.asked.empty());
}

TEST_F(MainViewTest, TextThatIsNoFetchableUrlIsRefusedWithoutAJob)
{
    const size_t before = doc().tree().size();
    for (const std::string text : {"", "not a url", "http://", "pnm://host/stream", "mailto:x@y"}) {
        SCOPED_TRACE(text);
        AddDownloadRequest request;
        request.text = text;
        EXPECT_EQ(m_view->addDownload(request).result, AddDownloadResult::Invalid);
    }
    EXPECT_EQ(doc().tree().size(), before);
}

TEST_F(MainViewTest, FurtherLinesThatAreUrlsBecomeAlternatesAndTheDialogCanCancel)
{
    AddDownloadRequest request;
    request.text = "http://127.0.0.1:9/a.zip\r\nnot a url\r\nftp://127.0.0.2/a.zip\r\n\r\nhttp://127.0.0.3/a.zip";
    request.multiLine = true;
    DownloadJob* job = m_view->addDownload(request).job;
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(job->alternateUrls.size(), 2u);
    EXPECT_EQ(job->alternateUrls[0].url, "ftp://127.0.0.2/a.zip");
    EXPECT_EQ(job->alternateUrls[1].url, "http://127.0.0.3/a.zip");

    const size_t before = doc().tree().size();
    AddDownloadRequest asked;
    asked.text = "http://127.0.0.1:9/b.zip";
    asked.showDialog = true;
    m_prompts.editAnswers = {false};
    EXPECT_EQ(m_view->addDownload(asked).result, AddDownloadResult::Cancelled);
    EXPECT_EQ(doc().tree().size(), before);
    EXPECT_EQ(m_prompts.texts("editJob"), std::vector<std::string>{"Add new download"});
    EXPECT_EQ(m_host.fronts, 1);
}

TEST_F(MainViewTest, ATemplateJobGivesLaterUrlsItsFolderSplitAndLogin)
{
    DownloadJob* first = add("http://127.0.0.1:9/one.zip");
    first->SetSaveFolder((m_dir / "elsewhere").string());
    first->splitCount = 7;
    first->editTexts().userName = "user";
    first->editTexts().password = "secret";
    first->optionFlags |= kOptUseLogin;
    AddDownloadRequest request;
    request.text = "http://127.0.0.1:9/two.zip";
    request.templateJob = first;
    DownloadJob* second = m_view->addDownload(request).job;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->saveFolder, (m_dir / "elsewhere").string());
    EXPECT_EQ(second->splitCount, 7);
    EXPECT_EQ(second->userName(), "user");
    EXPECT_EQ(second->GetDisplayName(), "two.zip");

    // A first file the user renamed keeps that name to itself: the later
    // URLs of the batch are other files.
    first->SetFileName("renamed.zip");
    request.text = "http://127.0.0.1:9/three.zip";
    DownloadJob* third = m_view->addDownload(request).job;
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->GetDisplayName(), "three.zip");
    EXPECT_EQ(third->saveFolder, (m_dir / "elsewhere").string());
}

TEST_F(MainViewTest, AUrlAlreadyInTheQueueIsMadeToStartAndSaidOnlyWhenTheDialogWasShown)
{
    DownloadJob* job = add("http://127.0.0.1:9/a.zip");
    const size_t before = doc().tree().size();
    AddDownloadRequest quiet;
    quiet.text = "http://127.0.0.1:9/a.zip";
    AddDownloadOutcome again = m_view->addDownload(quiet);
    EXPECT_EQ(again.result, AddDownloadResult::AlreadyListed);
    EXPECT_EQ(again.job, job);
    EXPECT_EQ(job->startMode, StartMode::Immediately);
    EXPECT_TRUE(m_prompts.texts("message").empty());

    AddDownloadRequest asked = quiet;
    asked.showDialog = true;
    EXPECT_EQ(m_view->addDownload(asked).result, AddDownloadResult::AlreadyListed);
    EXPECT_EQ(m_prompts.texts("message"), std::vector<std::string>{"URL now in download list."});
    EXPECT_EQ(doc().tree().size(), before);
}

TEST_F(MainViewTest, TheDuplicateDialogDecidesForAJobAlreadyDownloaded)
{
    DownloadJob* job = add("http://127.0.0.1:9/a.zip", {}, "old note");
    job->SetState(JobState::Completed, false);
    ASSERT_TRUE(doc().PlaceCompletedJob(*job));
    const DownloadJob* home = job->parent();

    // Cancel: nothing changes.
    EXPECT_EQ(add("http://127.0.0.1:9/a.zip", {}, "new note"), job);
    EXPECT_TRUE(job->IsComplete());
    EXPECT_EQ(job->parent(), home);
    EXPECT_EQ(job->comment(), "old note");

    // Download again: the new comment is appended and the job goes back to
    // the queue from scratch.
    m_prompts.duplicate = {DuplicateChoice::DownloadAgain, false};
    EXPECT_EQ(add("http://127.0.0.1:9/a.zip", {}, "new note"), job);
    EXPECT_EQ(job->comment(), "old note\r\nnew note");
    EXPECT_FALSE(job->IsComplete());
    EXPECT_EQ(job->completedBytes, 0);
    EXPECT_EQ(job->startMode, StartMode::Immediately);
    EXPECT_EQ(job->parent(), doc().downloading());
    EXPECT_EQ(m_prompts.texts("duplicate").size(), 2u);
}

// ---- deleting and moving -------------------------------------------------------------------

TEST_F(MainViewTest, DeleteMovesToTheBinAndAPermanentDeleteRemovesRecordAndFiles)
{
    DownloadJob* kept = add("http://127.0.0.1:9/kept.zip");
    DownloadJob* gone = add("http://127.0.0.1:9/gone.zip");
    list().rebuild();
    list().setSelection({gone});
    list().setFocusedJob(gone);
    ASSERT_TRUE(m_view->run(ViewCommand::Delete));
    EXPECT_EQ(gone->parent(), doc().deleted());
    EXPECT_EQ(doc().deleted()->imageIndex, kImageBinFull);
    EXPECT_TRUE(m_prompts.texts("permanentDelete").empty());

    // In the bin, a delete is permanent; the answer to the two check boxes
    // says what happens to the files: here the downloaded one goes.
    std::filesystem::create_directories(gone->saveFolder.str());
    const std::string file = gone->GetLocalPath();
    std::ofstream(file) << "data";
    gone->SetCompleted(4);
    gone->SetState(JobState::Completed, false);
    list().openCategory(doc().deleted());
    list().setSelection({gone});
    m_prompts.permanentDelete = {true, true, false};
    ASSERT_TRUE(m_view->run(ViewCommand::Delete));
    EXPECT_FALSE(doc().tree().Contains(gone));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(doc().deleted()->imageIndex, kImageDeleted);

    // Shift makes a delete permanent anywhere; refused, it does nothing.
    list().openCategory(doc().downloading());
    list().setSelection({kept});
    m_prompts.permanentDelete = {};
    ASSERT_TRUE(m_view->run(ViewCommand::Delete, {.shift = true}));
    EXPECT_TRUE(doc().tree().Contains(kept));
    EXPECT_EQ(kept->parent(), doc().downloading());

    // An unfinished file goes only with the second box.
    const std::string partial = kept->GetWorkingPath();
    std::ofstream(partial) << "part";
    kept->hasData = true;
    m_prompts.permanentDelete = {true, true, false};
    ASSERT_TRUE(m_view->run(ViewCommand::Delete, {.shift = true}));
    EXPECT_FALSE(doc().tree().Contains(kept));
    EXPECT_TRUE(std::filesystem::exists(partial));
    DownloadJob* other = add("http://127.0.0.1:9/other.zip");
    const std::string otherPartial = other->GetWorkingPath();
    std::ofstream(otherPartial) << "part";
    other->hasData = true;
    list().rebuild();
    list().setSelection({other});
    m_prompts.permanentDelete = {true, false, true};
    ASSERT_TRUE(m_view->run(ViewCommand::Delete, {.shift = true}));
    EXPECT_FALSE(std::filesystem::exists(otherPartial));
}

TEST_F(MainViewTest, MovingAsksAboutTheFilesAndReportsThoseThatCannotMove)
{
    DownloadJob* job = add("http://127.0.0.1:9/a.zip");
    job->SetState(JobState::Completed, false);
    std::filesystem::create_directories(job->saveFolder.str());
    std::ofstream(job->GetLocalPath()) << "data";
    DownloadJob* target = doc().AddCategory("Target", (m_dir / "target").string(), doc().root());
    std::filesystem::create_directories(target->saveFolder.str());
    m_app.settings().SetOption(OptionId::MoveDownloaded, 1);

    list().rebuild();
    list().setSelection({job});
    m_prompts.yesNo = {true};
    m_view->moveSelectedJobs(*target);
    EXPECT_EQ(job->parent(), target);
    EXPECT_EQ(m_prompts.texts("yesno"), std::vector<std::string>{"Also move downloaded file?"});
    EXPECT_TRUE(std::filesystem::exists(target->saveFolder + "/a.zip"));
    EXPECT_TRUE(m_prompts.texts("message").empty());

    // Into the bin and out again: its icon follows.
    list().openCategory(target);
    list().setSelection({job});
    m_prompts.yesNo = {false};
    m_view->moveSelectedJobs(*doc().deleted());
    EXPECT_EQ(doc().deleted()->imageIndex, kImageBinFull);
    list().openCategory(doc().deleted());
    list().setSelection({job});
    m_prompts.yesNo = {false};
    m_view->moveSelectedJobs(*target);
    EXPECT_EQ(doc().deleted()->imageIndex, kImageDeleted);
}

TEST_F(MainViewTest, SpecialCategoriesRefuseMoveAndDelete)
{
    list().openCategory(doc().downloaded());
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::DeleteCategory));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::MoveCategory));
    DownloadJob* mine = doc().AddCategory("Mine", (m_dir / "mine").string(), doc().root());
    DownloadJob* inner = doc().AddCategory("Inner", (m_dir / "mine/inner").string(), mine);
    list().openCategory(mine);
    m_prompts.category = inner;
    ASSERT_TRUE(m_view->run(ViewCommand::MoveCategory));
    EXPECT_EQ(m_prompts.texts("message"), std::vector<std::string>{"Can't move Category!"});
    EXPECT_EQ(mine->parent(), doc().root());

    m_prompts.yesNo = {true};
    ASSERT_TRUE(m_view->run(ViewCommand::DeleteCategory));
    EXPECT_FALSE(doc().tree().Contains(mine));
    EXPECT_EQ(list().openCategory(), doc().downloading());
}

// The category and search messages come from the string table, so a
// translation reaches them.
TEST_F(MainViewTest, CategoryAndSearchMessagesAreInTheCurrentLanguage)
{
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n61224=Besondere Kategorie!\n61225=Alles l\xC3\xB6schen?\n"
                                       "61226=Nicht verschiebbar!\n40306=Nichts gefunden!\n");
    setCurrentLanguage(std::move(german));
    DownloadJob* mine = doc().AddCategory("Mine", (m_dir / "mine").string(), doc().root());
    DownloadJob* inner = doc().AddCategory("Inner", (m_dir / "mine/inner").string(), mine);
    list().openCategory(mine);
    m_prompts.category = inner;
    m_view->run(ViewCommand::MoveCategory);
    m_prompts.yesNo = {false};
    m_view->run(ViewCommand::DeleteCategory);
    m_prompts.find = FindRequest{"nothing here", false, false, true};
    m_view->run(ViewCommand::Find);
    setCurrentLanguage(nullptr);
    const std::vector<std::string> messages = m_prompts.texts("message");
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Nicht verschiebbar!"), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Nichts gefunden!"), messages.end());
    EXPECT_EQ(m_prompts.texts("yesno"), std::vector<std::string>{"Alles l\xC3\xB6schen?"});
    EXPECT_TRUE(doc().tree().Contains(mine));
}

TEST_F(MainViewTest, DefaultCategoriesFollowASwitchOfTheLanguageUnlessTheUserRenamedThem)
{
    ASSERT_EQ(filedCategoryNames(doc()), (std::vector<std::string>{"Software", "Game", "Driver", "Mp3"}));
    DownloadJob* game = doc().downloaded()->firstChild()->nextSibling();
    ASSERT_EQ(game->name, "Game");
    const std::string gameFolder = game->saveFolder;
    DownloadJob* driver = game->nextSibling();
    driver->name = "My Drivers";
    doc().AddCategory("Mp3 Collection", (m_dir / "collection").string(), doc().downloaded());

    setCurrentLanguage(languageOf("61296=Programme,Spiele,Treiber,Musik\n61206=Heruntergeladen\n"));
    m_view->languageChanged();
    EXPECT_EQ(filedCategoryNames(doc()),
              (std::vector<std::string>{"Programme", "Spiele", "My Drivers", "Musik", "Mp3 Collection"}));
    EXPECT_EQ(doc().downloaded()->name, "Heruntergeladen");
    // Only the name follows: the files stay where they are.
    EXPECT_EQ(game->saveFolder, gameFolder);

    // From one translation to the next; an item the file lacks is English.
    setCurrentLanguage(languageOf("61296=Logiciels,Jeux\n"));
    m_view->languageChanged();
    EXPECT_EQ(filedCategoryNames(doc()),
              (std::vector<std::string>{"Logiciels", "Jeux", "My Drivers", "Mp3", "Mp3 Collection"}));

    // A name the user gives later is the user's, even in the old language's words.
    game->name = "Spiele";
    setCurrentLanguage(nullptr);
    m_view->languageChanged();
    EXPECT_EQ(filedCategoryNames(doc()),
              (std::vector<std::string>{"Software", "Spiele", "My Drivers", "Mp3", "Mp3 Collection"}));
    EXPECT_EQ(doc().downloaded()->name, "Downloaded");
}

// ---- order and search ----------------------------------------------------------------------

TEST_F(MainViewTest, ReorderingMovesTheSelectedBlockAndKeepsItSelected)
{
    std::vector<DownloadJob*> jobs;
    for (const char* name : {"a", "b", "c", "d", "e"})
        jobs.push_back(add(std::string("http://127.0.0.1:9/") + name + ".zip"));
    auto names = [&] {
        std::string out;
        for (DownloadJob* job : jobsOf(doc().downloading()))
            out += job->GetDisplayName()[0];
        return out;
    };
    list().rebuild();
    list().setSelection({jobs[2], jobs[3]});
    ASSERT_TRUE(m_view->run(ViewCommand::MoveUp));
    EXPECT_EQ(names(), "acdbe");
    ASSERT_TRUE(m_view->run(ViewCommand::MoveToBottom));
    EXPECT_EQ(names(), "abecd");
    ASSERT_TRUE(m_view->run(ViewCommand::MoveToTop));
    EXPECT_EQ(names(), "cdabe");
    ASSERT_TRUE(m_view->run(ViewCommand::MoveDown));
    EXPECT_EQ(names(), "acdbe");
    EXPECT_EQ(list().selectedJobs(), (std::vector<DownloadJob*>{jobs[2], jobs[3]}));

    // Elsewhere the order is not the queue's: the commands are off.
    list().openCategory(doc().downloaded());
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::MoveUp));
}

TEST(FindName, MatchesBaseAndExtensionFromTheirStartsAndStopsAtAStar)
{
    struct Case {
        const char* name;
        const char* text;
        bool match;
    } cases[] = {
        {"Setup-1.2.EXE", "setup", true},  {"Setup-1.2.EXE", "up-1", true},     {"Setup-1.2.EXE", "*.exe", true},
        {"Setup-1.2.EXE", "set*.e", true}, {"Setup-1.2.EXE", "tup.exe", false}, {"Setup-1.2.EXE", "setup.zip", false},
        {"readme", "read.", true},         {"readme", "readme.txt", false},     {"a.tar.gz", "a.tar.g", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.text);
        EXPECT_EQ(FindNameMatches(c.name, c.text), c.match);
    }
}

TEST_F(MainViewTest, FindNextWalksFromTheFocusedRowAndSaysWhenNothingIsLeft)
{
    DownloadJob* a = add("http://127.0.0.1:9/alpha.zip", {}, "keep");
    add("http://127.0.0.1:9/beta.iso");
    DownloadJob* c = add("http://127.0.0.1:9/gamma.zip", {}, "keep too");
    list().rebuild();
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::FindNext));
    m_prompts.find = FindRequest{"KEEP", false, false, true};
    ASSERT_TRUE(m_view->run(ViewCommand::Find));
    EXPECT_EQ(list().focusedJob(), a);
    ASSERT_TRUE(m_view->run(ViewCommand::FindNext));
    EXPECT_EQ(list().focusedJob(), c);
    ASSERT_TRUE(m_view->run(ViewCommand::FindNext));
    EXPECT_EQ(m_prompts.texts("message"), std::vector<std::string>{"Item not found!"});
    ASSERT_TRUE(m_view->run(ViewCommand::FindNext, {.shift = true}));
    EXPECT_EQ(list().focusedJob(), a);
}

// ---- enable rules --------------------------------------------------------------------------

TEST_F(MainViewTest, CommandsFollowTheSelectionAndTheOpenCategory)
{
    DownloadJob* job = add("http://127.0.0.1:9/a.zip", "http://127.0.0.1:9/page");
    list().rebuild();
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::Delete));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::Start));
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::DeleteAll));
    list().setSelection({job});
    list().setFocusedJob(job);
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::Start));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::Pause));
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::BrowseReferrer));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::OpenFile));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::DownloadAgain));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::VirusScan));
    EXPECT_FALSE(m_view->isEnabled(ViewCommand::PasteUrl));
    m_host.clipboard = "http://127.0.0.1:9/b.zip";
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::PasteUrl));

    job->SetState(JobState::Completed, false);
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::OpenFile));
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::DownloadAgain));
    m_app.settings().SetOptionText(OptionId::VirusScanner, "/usr/bin/scan");
    EXPECT_TRUE(m_view->isEnabled(ViewCommand::VirusScan));

    ASSERT_TRUE(m_view->run(ViewCommand::CopyUrls));
    EXPECT_EQ(m_host.clipboard, "http://127.0.0.1:9/a.zip");
}

TEST_F(MainViewTest, TheZipCheckAndTheVirusScanWorkOnTheFocusedCompletedFile)
{
    DownloadJob* job = add("http://127.0.0.1:9/setup.zip");
    std::filesystem::create_directories(job->saveFolder.str());
    std::ofstream(job->GetLocalPath()) << "this is no archive";
    job->SetCompleted(18);
    job->SetState(JobState::Completed, false);
    list().rebuild();
    list().setSelection({job});
    list().setFocusedJob(job);
    ASSERT_TRUE(m_view->run(ViewCommand::FixZip));
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].text, "It does not appear to be a valid archive.");
    EXPECT_TRUE(job->IsComplete());

    m_app.settings().SetOptionText(OptionId::VirusScanner, "/opt/scan/bin/scan");
    m_app.settings().SetOptionText(OptionId::VirusScannerArgs, "--quiet \"--log=/tmp/a b\"");
    ASSERT_TRUE(m_view->run(ViewCommand::VirusScan));
    ASSERT_EQ(m_desktop.programs.size(), 1u);
    EXPECT_EQ(m_desktop.programs[0],
              (std::vector<std::string>{"/opt/scan/bin/scan", "--quiet", "--log=/tmp/a b", job->GetLocalPath()}));
}

TEST_F(MainViewTest, LinksFromThePaneBecomeJobsWithTheFocusedJobAsReferrer)
{
    DownloadJob* page = add("http://127.0.0.1:9/page.html");
    list().rebuild();
    list().setFocusedJob(page);
    list().setDetailJob(page);
    m_view->addPaneLinks({{"http://127.0.0.1:9/one.zip", "One"}, {"http://127.0.0.1:9/two.zip", "Two"}});
    std::vector<DownloadJob*> jobs = jobsOf(doc().downloading());
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[1]->referer, "http://127.0.0.1:9/page.html");
    EXPECT_EQ(jobs[2]->comment(), "Two");
    EXPECT_TRUE(m_prompts.texts("selectLinks").empty());
}

TEST_F(MainViewTest, AnFtpFolderListingBecomesOneJobPerEntryNotYetListed)
{
    DownloadJob* known = add("ftp://127.0.0.1:9/pub/b.iso");
    DownloadJob* folder = add("ftp://127.0.0.1:9/pub");
    folder->optionFlags |= kOptFtpCreateSubdirectories;
    std::vector<FtpListEntry> entries(4);
    entries[0].name = "a file#1.zip";
    entries[1].name = "b.iso";
    entries[2].name = "sub";
    entries[2].isDirectory = true;
    entries[3].name = "..";
    m_view->ftpDirectoryListed(*folder, entries);
    EXPECT_EQ(folder->url, "ftp://127.0.0.1:9/pub/a%20file%231.zip");
    std::vector<DownloadJob*> jobs = jobsOf(doc().downloading());
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0], known);
    EXPECT_EQ(jobs[2]->url, "ftp://127.0.0.1:9/pub/sub/");
    EXPECT_EQ(jobs[2]->saveFolder, folder->saveFolder + "/sub");

    // A listing of just the file itself changes nothing.
    std::vector<FtpListEntry> itself(1);
    itself[0].name = "b.iso";
    m_view->ftpDirectoryListed(*known, itself);
    EXPECT_EQ(known->url, "ftp://127.0.0.1:9/pub/b.iso");
    EXPECT_EQ(jobsOf(doc().downloading()).size(), 3u);
}

// ---- finishing -----------------------------------------------------------------------------

TEST_F(MainViewTest, ACompletedJobMovesToItsCategoryPlaysItsSoundAndOpensByType)
{
    DownloadJob* job = add("http://127.0.0.1:9/a.zip");
    AppSettings& settings = m_app.settings();
    settings.SetOption(OptionId::PlaySounds, 1);
    settings.SetOption(OptionId::PlayDoneSound, 1);
    settings.SetOptionText(OptionId::SoundDone, "/sounds/done.wav");
    settings.SetOption(OptionId::OpenWhenDone, 1);
    settings.SetOptionText(OptionId::OpenTypes, ".ZIP;.EXE");
    job->SetState(JobState::Completed, false);
    // What the runner's stop notice leads to.
    static_cast<RunnerHost&>(*m_view).jobStopped(*job, nullptr, JobState::Completed);
    m_app.loop().processPending();
    EXPECT_EQ(job->parent(),
              doc().tree().FindById(job->categoryId) ? doc().tree().FindById(job->categoryId) : doc().downloaded());
    // The queue is empty now: the all-done sound follows.
    ASSERT_EQ(m_desktop.sounds.size(), 2u);
    EXPECT_EQ(m_desktop.sounds[0], "/sounds/done.wav");
    EXPECT_EQ(m_desktop.sounds[1], settings.GetOptionText(OptionId::SoundAllDone));
    EXPECT_EQ(m_desktop.opened, std::vector<std::string>{job->GetLocalPath()});
    EXPECT_FALSE(list().rowOf(*job).has_value());
}

// ---- schedule and end of work -----------------------------------------------------------

class SetClock final : public ScheduleClock {
public:
    std::tm localNow() const override { return now; }
    std::tm toLocal(int64_t secondsSince1970) const override
    {
        const std::time_t t = static_cast<std::time_t>(secondsSince1970);
        std::tm out{};
        gmtime_r(&t, &out);
        return out;
    }
    void at(int hour, int minute)
    {
        now.tm_hour = hour;
        now.tm_min = minute;
    }
    std::tm now = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mday = 9;
        t.tm_wday = 3;
        return t;
    }();
};

TEST_F(MainViewTest, TheScheduleStartsItsJobsWhenTheWindowOpensAndStopsThemAtTheStopTime)
{
    SetClock clock;
    m_view->setScheduleClock(clock);
    AppSettings& settings = m_app.settings();
    settings.SetOption(OptionId::ScheduleFlags, 0x807F);
    settings.SetOption(OptionId::ScheduleStartTime, 9 * 3600);
    settings.SetOption(OptionId::ScheduleStopTime, 17 * 3600);
    // Nothing listens on port 1: the job keeps retrying while it runs.
    DownloadJob* job = add("http://127.0.0.1:1/scheduled.bin");
    job->SetStartMode(StartMode::Schedule);

    clock.at(8, 59);
    m_view->onViewTimer();
    EXPECT_EQ(job->GetState(), JobState::Ready);
    EXPECT_FALSE(m_view->schedule().windowOpen());

    clock.at(9, 0);
    m_view->onViewTimer();
    EXPECT_TRUE(m_view->schedule().windowOpen());
    EXPECT_EQ(job->GetState(), JobState::Downloading);
    EXPECT_EQ(m_power.inhibitor, std::vector<bool>{true});

    clock.at(17, 0);
    m_view->onViewTimer();
    m_app.loop().processPending();
    EXPECT_NE(job->GetState(), JobState::Downloading);
    EXPECT_EQ(job->startMode, StartMode::Schedule);
    m_view->onViewTimer();
    EXPECT_EQ(m_power.inhibitor, (std::vector<bool>{true, false}));
}

TEST_F(MainViewTest, WhenAllIsDoneTheShutDownCountdownRunsAndItsOkExitsToPowerOff)
{
    m_app.settings().SetOption(OptionId::ShutDownWhenDone, 1);
    DownloadJob* job = add("http://127.0.0.1:9/a.zip");
    job->SetState(JobState::Completed, false);
    static_cast<RunnerHost&>(*m_view).jobStopped(*job, nullptr, JobState::Completed);
    m_app.loop().processPending();
    ASSERT_EQ(m_host.countdowns.started.size(), 1u);
    EXPECT_EQ(m_host.countdowns.started[0].caption, "Shutdown");
    EXPECT_FALSE(m_view->shutDownAtExit());
    m_host.countdowns.finish(true);
    EXPECT_EQ(m_host.exits, 1);
    EXPECT_TRUE(m_view->shutDownAtExit());
}

TEST_F(MainViewTest, AClickCaughtInTheBrowserBecomesAJobThroughTheServiceTopic)
{
    const std::string block = EncodeCaughtUrlBlock("http://127.0.0.1:9/caught.zip", std::nullopt);
    const std::string base64 = Base64Codec().encode(block);
    // Monitor Flags 0x40 is on by default: the view is asked synchronously.
    std::optional<std::string> reply = m_view->serveClickCatcher(std::string(kTopicClickCatcher), "0x44 " + base64);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, "1");
    EXPECT_EQ(m_prompts.texts("editJob"), std::vector<std::string>{"Add new download"});
    ASSERT_EQ(jobsOf(doc().downloading()).size(), 1u);
    EXPECT_EQ(jobsOf(doc().downloading()).front()->url, "http://127.0.0.1:9/caught.zip");
}

}  // namespace
}  // namespace fetchora

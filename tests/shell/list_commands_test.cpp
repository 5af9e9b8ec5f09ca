#include "shell/list_commands.h"

#include "lists/page_url_history.h"
#include "platform/registry.h"
#include "shell/job_list_model.h"
#include "support/scoped_language.h"
#include "support/view_session.h"

namespace fetchora {
namespace {

using test::readFile;
using test::TempDir;
using test::ViewSession;
using test::writeFileIn;

class ListCommandsTest : public testing::Test {
protected:
    std::vector<std::string> urlsOf(DownloadJob* category)
    {
        std::vector<std::string> urls;
        for (DownloadJob* job : ViewSession::jobsOf(category))
            urls.push_back(job->url);
        return urls;
    }

    // A completed job for the file, imported as an earlier download.
    DownloadJob* importFile(const std::string& name, size_t bytes, const std::string& url)
    {
        const auto file = m_dir / name;
        writeFileIn(file, std::string(bytes, 'x'));
        PreviousFileStart start;
        std::string error;
        EXPECT_TRUE(preparePreviousFile(m_session.app, file, start, error)) << error;
        ImportChoice choice;
        choice.url = url;
        return importPreviousFile(m_session.app, *m_session.view, std::move(start), choice).job;
    }

    TempDir m_dir;
    ViewSession m_session{m_dir};
};

// ---- batch ----------------------------------------------------------------------------------

TEST_F(ListCommandsTest, ABatchAddsItsSeriesWithTheFirstJobsSettingsButEachUrlsOwnName)
{
    BatchSeries series;
    series.urlTemplate = "http://127.0.0.1:9/pics/img(*).jpg";
    series.firstNumber = 10;
    series.lastNumber = 8;
    series.width = 3;
    const std::string folder = (m_dir / "batch").string();
    m_session.prompts.jobEdit = [&](DownloadJob& job) {
        job.SetSaveFolder(folder);
        job.splitCount = 4;
        job.SetFileName("renamed.jpg");
    };
    std::vector<size_t> remaining;
    const BatchAddOutcome outcome
        = addBatchJobs(*m_session.view, series, [&](size_t left) { remaining.push_back(left); });
    EXPECT_TRUE(outcome.validation.ok());
    EXPECT_EQ(outcome.added, 3u);
    EXPECT_EQ(remaining, std::vector<size_t>{2});
    EXPECT_EQ(m_session.prompts.texts("editJob"), std::vector<std::string>{"Add new download"});
    const std::vector<DownloadJob*> jobs = ViewSession::jobsOf(m_session.doc().downloading());
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0]->url, "http://127.0.0.1:9/pics/img010.jpg");
    EXPECT_EQ(jobs[1]->url, "http://127.0.0.1:9/pics/img009.jpg");
    EXPECT_EQ(jobs[2]->url, "http://127.0.0.1:9/pics/img008.jpg");
    EXPECT_EQ(jobs[0]->GetDisplayName(), "renamed.jpg");
    EXPECT_EQ(jobs[1]->GetDisplayName(), "img009.jpg");
    EXPECT_EQ(jobs[2]->GetDisplayName(), "img008.jpg");
    for (DownloadJob* job : jobs) {
        EXPECT_EQ(job->saveFolder, folder);
        EXPECT_EQ(job->splitCount, 4);
    }
    // The batch is saved at once.
    EXPECT_FALSE(readFile(m_session.view->databasePath()).empty());
}

TEST_F(ListCommandsTest, ABatchCancelledAtItsFirstUrlOrRefusedAddsNothing)
{
    BatchSeries series;
    series.urlTemplate = "http://127.0.0.1:9/(*)/(*).txt";
    series.kind = BatchKind::Letters;
    series.firstLetter = "z";
    series.lastLetter = "x";
    m_session.prompts.editAnswers = {false};
    bool restAdded = false;
    BatchAddOutcome outcome = addBatchJobs(*m_session.view, series, [&](size_t) { restAdded = true; });
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(restAdded);
    EXPECT_EQ(outcome.added, 0u);
    EXPECT_TRUE(ViewSession::jobsOf(m_session.doc().downloading()).empty());

    outcome = addBatchJobs(*m_session.view, series);
    EXPECT_EQ(urlsOf(m_session.doc().downloading()),
              (std::vector<std::string>{"http://127.0.0.1:9/z/z.txt", "http://127.0.0.1:9/y/y.txt",
                                        "http://127.0.0.1:9/x/x.txt"}));

    BatchSeries tooLong;
    tooLong.urlTemplate = "http://127.0.0.1:9/f(*)";
    tooLong.lastNumber = kMaxBatchUrls;  // one more than allowed
    m_session.prompts.asked.clear();
    outcome = addBatchJobs(*m_session.view, tooLong);
    EXPECT_EQ(outcome.validation.check, BatchCheck::TooLong);
    EXPECT_EQ(outcome.added, 0u);
    EXPECT_TRUE(m_session.prompts.asked.empty());
    EXPECT_EQ(ViewSession::jobsOf(m_session.doc().downloading()).size(), 3u);
}

// ---- a saved page --------------------------------------------------------------------------------

TEST_F(ListCommandsTest, ASavedPagesFetchableLinksGoToSelectLinksWithTheBaseAsReferrer)
{
    const auto page = m_dir / "page.html";
    writeFileIn(page,
                "<html><body>"
                "<a href=\"files/a.zip\">First file</a>"
                "<a href=\"http://127.0.0.2/b.iso\">b</a>"
                "<a href=\"mailto:someone@example.com\">mail</a>"
                "<a href=\"javascript:void(0)\">script</a>"
                "</body></html>");
    const std::vector<LinkChoice> links = savedPageLinks(page, "http://127.0.0.1:9/dir/page.html");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].url, "http://127.0.0.1:9/dir/files/a.zip");
    EXPECT_EQ(links[0].text, "First file");
    EXPECT_EQ(links[1].url, "http://127.0.0.2/b.iso");

    EXPECT_EQ(processWebPage(m_session.app, *m_session.view, page, "http://127.0.0.1:9/dir/page.html"),
              WebPageOutcome::Handed);
    EXPECT_EQ(m_session.prompts.texts("selectLinks"), std::vector<std::string>{"2"});
    const std::vector<DownloadJob*> jobs = ViewSession::jobsOf(m_session.doc().downloading());
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0]->referer, "http://127.0.0.1:9/dir/page.html");
    EXPECT_EQ(jobs[0]->comment(), "First file");

    PageUrlHistory history;
    history.Load(m_session.app.registry());
    EXPECT_EQ(history.entries(), std::vector<std::string>{"http://127.0.0.1:9/dir/page.html"});
}

TEST_F(ListCommandsTest, APageWithoutFetchableLinksOrARelativePageWithoutBaseAddsNothing)
{
    const auto page = m_dir / "page.html";
    writeFileIn(page, "<html><a href=\"mailto:x@example.com\">m</a><a href=\"only/relative.zip\">r</a></html>");
    EXPECT_EQ(processWebPage(m_session.app, *m_session.view, page, ""), WebPageOutcome::NoValidUrl);
    EXPECT_TRUE(m_session.prompts.texts("selectLinks").empty());
    EXPECT_TRUE(ViewSession::jobsOf(m_session.doc().downloading()).empty());
    EXPECT_EQ(processWebPage(m_session.app, *m_session.view, m_dir / "missing.html", "http://127.0.0.1:9/"),
              WebPageOutcome::NoValidUrl);
}

// ---- imports ----------------------------------------------------------------------------------------

TEST_F(ListCommandsTest, AnEarlierFileBecomesACompletedJobAndItsCompanionFillsTheDialog)
{
    m_session.view->list().openCategory(m_session.doc().downloaded());
    DownloadJob* job = importFile("old.bin", 3000, "http://127.0.0.1:9/old.bin");
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->parent(), m_session.doc().downloaded());
    EXPECT_EQ(job->GetState(), JobState::Completed);
    EXPECT_EQ(job->fileSize, 3000);
    EXPECT_EQ(job->completedBytes, 3000);
    EXPECT_EQ(job->GetLocalPath(), (m_dir / "old.bin").string());
    // The open category shows it at once.
    EXPECT_TRUE(m_session.view->list().rowOf(*job).has_value());

    const auto other = m_dir / "other.bin";
    writeFileIn(other, "data");
    DownloadJob described;
    ASSERT_TRUE(described.SetUrl("http://127.0.0.1:9/described.bin"));
    described.referer = "http://127.0.0.1:9/";
    described.editTexts().comment = "kept";
    ASSERT_TRUE(WriteCompanionFile(other, described));
    PreviousFileStart start;
    std::string error;
    ASSERT_TRUE(preparePreviousFile(m_session.app, other, start, error)) << error;
    EXPECT_EQ(start.choice.url, "http://127.0.0.1:9/described.bin");
    EXPECT_EQ(start.choice.referer, "http://127.0.0.1:9/");
    EXPECT_EQ(start.choice.comment, "kept");
    EXPECT_NE(start.loaded, nullptr);

    EXPECT_FALSE(preparePreviousFile(m_session.app, m_dir.path(), start, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(ListCommandsTest, ABrokenDownloadWaitsInTheQueueToResumeFromItsLength)
{
    const auto file = m_dir / "partial.iso";
    writeFileIn(file, std::string(1234, 'p'));
    DiskFile disk;
    ASSERT_TRUE(StatDiskFile(file, disk));
    ImportChoice choice;
    choice.url = "http://127.0.0.1:9/partial.iso";
    choice.category = m_session.doc().downloaded();
    const ImportResult result = importBrokenDownload(m_session.app, *m_session.view, disk, choice);
    ASSERT_NE(result.job, nullptr) << result.error;
    EXPECT_EQ(result.job->parent(), m_session.doc().downloading());
    EXPECT_EQ(result.job->GetState(), JobState::Ready);
    EXPECT_EQ(result.job->startMode, StartMode::Manual);
    EXPECT_EQ(result.job->completedBytes, 1234);
    EXPECT_TRUE(m_session.view->list().rowOf(*result.job).has_value());
}

TEST_F(ListCommandsTest, AFolderImportAddsItsFilesButNotTheirCompanions)
{
    const auto folder = m_dir / "earlier";
    writeFileIn(folder / "a.txt", "a");
    writeFileIn(folder / "b.txt", "bb");
    DownloadJob described;
    ASSERT_TRUE(described.SetUrl("http://127.0.0.1:9/b.txt"));
    ASSERT_TRUE(WriteCompanionFile(folder / "b.txt", described));
    FolderImportOptions options;
    options.folder = folder;
    options.autoCreateCategory = true;
    const FolderImportResult result = importPreviousFolder(m_session.app, *m_session.view, options);
    EXPECT_EQ(result.added, 2);
    EXPECT_EQ(result.message, "Total add 2 files.");
    EXPECT_EQ(result.categoriesCreated, 1);
    DownloadJob* created = nullptr;
    for (DownloadJob* child = m_session.doc().downloaded()->firstChild(); child; child = child->nextSibling()) {
        if (child->IsCategory() && child->GetDisplayName() == "earlier")
            created = child;
    }
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->saveFolder, folder.string());
    EXPECT_EQ(urlsOf(created), (std::vector<std::string>{"", "http://127.0.0.1:9/b.txt"}));
}

// ---- recently downloaded ------------------------------------------------------------------------------

TEST_F(ListCommandsTest, RecentlyDownloadedListsCompletedJobsNewestFirstLeavingOutTheBin)
{
    DownloadJob* older = importFile("older.bin", 10, "");
    DownloadJob* newest = importFile("newest.bin", 20, "");
    DownloadJob* middle = importFile("middle.bin", 30, "");
    DownloadJob* binned = importFile("binned.bin", 40, "");
    DownloadJob* undated = importFile("undated.bin", 50, "");
    ASSERT_TRUE(older && newest && middle && binned && undated);
    older->completeTime = 1000;
    newest->completeTime = 3000;
    middle->completeTime = 2000;
    binned->completeTime = 4000;
    undated->completeTime = -1;
    m_session.doc().tree().Move(m_session.doc().deleted(), binned);
    AddDownloadRequest unfinished;
    unfinished.text = "http://127.0.0.1:9/unfinished.bin";
    ASSERT_NE(m_session.view->addDownload(unfinished).job, nullptr);

    std::vector<RecentFile> files = recentlyDownloaded(m_session.app, *m_session.view);
    std::vector<std::string> names;
    for (const RecentFile& file : files)
        names.push_back(file.name);
    EXPECT_EQ(names, (std::vector<std::string>{"newest.bin", "middle.bin", "older.bin", "undated.bin"}));
    EXPECT_EQ(files[0].path, (m_dir / "newest.bin").string());
    EXPECT_EQ(files[0].folder, m_dir.path().string());
    EXPECT_EQ(files[0].jobId, newest->id);
    EXPECT_FALSE(files[0].sizeText.empty());
    EXPECT_FALSE(files[0].completeTimeText.empty());

    files = recentlyDownloaded(m_session.app, *m_session.view, 2);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].name, "middle.bin");
}

// ---- export information -----------------------------------------------------------------------------------

TEST_F(ListCommandsTest, AnInformationExportUsesTheChosenStyleAndTheListsSizeUnit)
{
    const auto program = m_dir / "program";
    writeFileIn(program / "Plain.kxs",
                "[Format]\nF_START=<ul>\nC_START=<li>{C_NAME}\nITEM={F_NAME}:{F_SIZE}\n"
                "C_END=</li>\nF_END=</ul>\n");
    m_session.app.settings().SetOptionText(OptionId::ProgramFolder, program.string());
    ASSERT_NE(importFile("two.bin", 2048, "http://127.0.0.1:9/two.bin"), nullptr);

    InformationExportRequest request;
    request.category = m_session.doc().downloaded();
    request.style = "Plain";
    request.output = m_dir / "out.htm";
    request.viewAfter = true;
    ExportResult result = runInformationExport(m_session.app, *m_session.view, request);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readFile(request.output), "<ul><li>Downloaded\r\ntwo.bin: 2K \r\n</li>\r\n</ul>");
    EXPECT_EQ(m_session.desktop.opened, std::vector<std::string>{request.output.string()});

    m_session.app.settings().SetOption(OptionId::SizesInBytes, 1);
    request.viewAfter = false;
    ASSERT_TRUE(runInformationExport(m_session.app, *m_session.view, request).ok);
    EXPECT_EQ(readFile(request.output), "<ul><li>Downloaded\r\ntwo.bin: 2048 \r\n</li>\r\n</ul>");
    EXPECT_EQ(m_session.desktop.opened.size(), 1u);

    request.style = "Missing";
    result = runInformationExport(m_session.app, *m_session.view, request);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());

    request.type = InformationExportType::IndividualLog;
    result = runInformationExport(m_session.app, *m_session.view, request);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.filesWritten, 1);
    EXPECT_NE(readFile(m_dir / "two.bin.log").find("URL:http://127.0.0.1:9/two.bin\r\n"), std::string::npos);
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

// Exporting or importing a list into a folder that is not there says so
// naming the file once, in English and in the current language.
TEST_F(ListCommandsTest, AListThatCannotBeWrittenOrReadNamesItsFileOnce)
{
    DownloadJob* job = importFile("one.bin", 10, "http://127.0.0.1:9/one.bin");
    ASSERT_NE(job, nullptr);
    m_session.view->list().openCategory(m_session.doc().downloaded());
    m_session.view->list().setSelection({job});
    const auto file = m_dir / "no such folder" / "list.lst";
    test::ViewPrompts& prompts = m_session.prompts;
    auto shownFor = [&](ViewCommand command) {
        prompts.asked.clear();
        prompts.saveFile = file;
        prompts.openFile = file;
        m_session.view->run(command);
        std::vector<std::string> messages;
        for (const test::ViewPrompts::Asked& asked : prompts.asked) {
            if (asked.kind == "message")
                messages.push_back(asked.text);
        }
        EXPECT_EQ(messages.size(), 1u);
        return messages.empty() ? std::string() : messages.back();
    };
    const std::string english = file.string() + " contains an incorrect path.";
    EXPECT_EQ(shownFor(ViewCommand::ExportList), english);
    EXPECT_EQ(shownFor(ViewCommand::ImportList), english);
    {
        test::ScopedLanguage german("61731=%1 enth\xC3\xA4lt einen falschen Pfad.\n");
        const std::string text = shownFor(ViewCommand::ExportList);
        EXPECT_EQ(text, file.string() + " enth\xC3\xA4lt einen falschen Pfad.");
        EXPECT_EQ(text.find(file.string()), text.rfind(file.string())) << text;
    }
    prompts.saveFile.reset();
    prompts.openFile.reset();
}

}  // namespace
}  // namespace fetchora

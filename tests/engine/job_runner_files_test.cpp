// The output file of a job: existing destinations, folders that cannot be
// used, resumes whose file is gone, the final rename and the small-file check.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "engine/runner_fixture.h"
#include "engine/small_file_check.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kOverwrite = 0;
constexpr int32_t kAutoRename = 1;
constexpr int32_t kStop = 2;

// Keeps every name in a folder as it is while it lives: nothing can be
// renamed into or out of it. Read-only permissions for an ordinary user,
// the immutable flag for root (who ignores permissions).
class FrozenFolder {
public:
    explicit FrozenFolder(const fs::path& folder) : m_folder(folder)
    {
        if (::geteuid() != 0) {
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
            m_frozen = true;
            return;
        }
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            m_frozen = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~FrozenFolder()
    {
        if (m_fd >= 0) {
            int flags = 0;
            if (::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
            }
            ::close(m_fd);
        } else if (m_frozen) {
            fs::permissions(m_folder, fs::perms::owner_all);
        }
    }
    FrozenFolder(const FrozenFolder&) = delete;
    FrozenFolder& operator=(const FrozenFolder&) = delete;
    bool frozen() const { return m_frozen; }

private:
    fs::path m_folder;
    int m_fd = -1;
    bool m_frozen = false;
};

class JobRunnerFilesTest : public RunnerTest {
protected:
    void SetUp() override
    {
        m_source = randomBytes(20000, 21);
        m_file = ServedFile{&m_source, -1, true, 3000, 0.0, 0};
        m_worker = [this](TransferTask& task) { return serve(task, m_file); };
        fs::create_directories(m_dir / "dl");
    }

    fs::path folder() const { return m_dir / "dl"; }

    // Sends the first 100 bytes of the file, waits until carryOn opens, then
    // sends the rest: the test changes the folder in between.
    std::function<int(TransferTask&)> pausedAfter100Bytes(Gate& carryOn)
    {
        return [this, &carryOn](TransferTask& task) {
            PartChannel& channel = *task.channel;
            answerWithRanges(channel, static_cast<int64_t>(m_source.size()));
            sendBytes(channel, m_source, 0, 100);
            carryOn.wait();
            sendBytes(channel, m_source, 100, m_source.size() - 100);
            return 1;
        };
    }

    std::string m_source;
    ServedFile m_file;
};

TEST_F(JobRunnerFilesTest, ExistingTargetWithAutoRenameEndsUnderTheNameWithOneInserted)
{
    m_settings.SetOption(OptionId::ExistingFileAction, kAutoRename);
    writeFile(folder() / "report.pdf", "the user's own file");
    DownloadJob& job = makeJob("http://127.0.0.1:8080/report.pdf");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(folder() / "report.pdf"), "the user's own file");
    EXPECT_EQ(readFile(folder() / "report(1).pdf"), m_source);
    EXPECT_FALSE(fs::exists(folder() / "report(1).pdf.kx!"));
    EXPECT_FALSE(fs::exists(folder() / "report.pdf.kx!"));
    EXPECT_EQ(job.GetDisplayName(), "report(1).pdf");
}

TEST_F(JobRunnerFilesTest, TargetThatAppearsDuringTheDownloadIsNeverOverwritten)
{
    for (const int32_t policy : {kAutoRename, kStop}) {
        SCOPED_TRACE(policy);
        m_settings.SetOption(OptionId::ExistingFileAction, policy);
        const std::string name = "late" + std::to_string(policy) + ".iso";
        Gate carryOn;
        m_worker = pausedAfter100Bytes(carryOn);
        DownloadJob& job = makeJob("http://127.0.0.1:8080/" + name);
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntil([&] { return job.completedBytes == 100; }));
        // Someone else creates the target while the ".kx!" file is written.
        writeFile(folder() / name, "arrived meanwhile");
        carryOn.open();
        ASSERT_TRUE(runUntilEnded(job));
        ASSERT_TRUE(runUntilThreadsEnd());

        EXPECT_EQ(job.GetState(), JobState::Completed);
        EXPECT_EQ(readFile(folder() / name), "arrived meanwhile");
        const std::string renamed = "late" + std::to_string(policy) + "(1).iso";
        EXPECT_EQ(readFile(folder() / renamed), m_source);
        EXPECT_TRUE(logged(job, "Destination file exists, auto rename"));
        EXPECT_FALSE(fs::exists(folder() / (name + ".kx!")));
    }
}

TEST_F(JobRunnerFilesTest, FailedFinalMoveKeepsTheRecordOnTheFileThatHoldsTheData)
{
    m_settings.SetOption(OptionId::ExistingFileAction, kAutoRename);
    Gate carryOn;
    m_worker = pausedAfter100Bytes(carryOn);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/stuck.tar");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.completedBytes == 100; }));
    // The target name is taken, so the finish picks "stuck(1).tar", and the
    // folder refuses every move.
    writeFile(folder() / "stuck.tar", "someone else's");
    std::optional<FrozenFolder> frozen(std::in_place, folder());
    if (!frozen->frozen()) {
        carryOn.open();
        runUntilEnded(job);
        GTEST_SKIP() << "this file system cannot keep a folder from changing";
    }
    carryOn.open();
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_TRUE(runUntilThreadsEnd());
    frozen.reset();

    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(m_host.reasonOf(job), StopReason::Error);
    // The record still names the file the data is in.
    EXPECT_EQ(job.GetDisplayName(), "stuck.tar");
    EXPECT_EQ(readFile(job.GetTempPath()), m_source);
    EXPECT_FALSE(fs::exists(folder() / "stuck(1).tar"));
    EXPECT_FALSE(logged(job, "Destination file exists, auto rename"));
    EXPECT_EQ(readFile(folder() / "stuck.tar"), "someone else's");
}

TEST_F(JobRunnerFilesTest, ExistingTargetWithStopHaltsTheJobAndTouchesNothing)
{
    m_settings.SetOption(OptionId::ExistingFileAction, kStop);
    writeFile(folder() / "keep.zip", "precious");
    DownloadJob& job = makeJob("http://127.0.0.1:8080/keep.zip");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(readFile(folder() / "keep.zip"), "precious");
    EXPECT_FALSE(fs::exists(folder() / "keep.zip.kx!"));
    EXPECT_TRUE(logged(job, "Destination file exists, download job is halted."));
    EXPECT_TRUE(logged(job, "Create or Open file error."));
    EXPECT_EQ(m_host.reasonOf(job), StopReason::Error);
}

TEST_F(JobRunnerFilesTest, ExistingTargetWithOverwriteIsReplaced)
{
    m_settings.SetOption(OptionId::ExistingFileAction, kOverwrite);
    writeFile(folder() / "old.bin", "stale");
    DownloadJob& job = makeJob("http://127.0.0.1:8080/old.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(folder() / "old.bin"), m_source);
    EXPECT_FALSE(fs::exists(folder() / "old(1).bin"));
}

TEST_F(JobRunnerFilesTest, FolderThatCannotBeCreatedFailsTheJobAndLosesNothing)
{
    writeFile(m_dir / "plain", "a file where a folder should be");
    DownloadJob& job = makeJob("http://127.0.0.1:8080/nowhere.bin");
    job.saveFolder = (m_dir / "plain" / "sub").string();
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Create or Open file error."));
    EXPECT_EQ(readFile(m_dir / "plain"), "a file where a folder should be");
    EXPECT_EQ(job.completedBytes, 0);
    EXPECT_FALSE(job.hasData);
}

TEST_F(JobRunnerFilesTest, WorkingFileThatCannotBeWrittenFailsTheJob)
{
    // A folder sits where the ".kx!" file must go.
    fs::create_directories(folder() / "blocked.bin.kx!" / "inside");
    DownloadJob& job = makeJob("http://127.0.0.1:8080/blocked.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Create or Open file error."));
    EXPECT_TRUE(fs::is_directory(folder() / "blocked.bin.kx!" / "inside"));
}

TEST_F(JobRunnerFilesTest, ResumeWhosePartialFileIsGoneFailsAndKeepsItsRanges)
{
    DownloadJob& job = makeJob("http://127.0.0.1:8080/gone.bin", 2);
    job.SetFileSize(static_cast<int64_t>(m_source.size()));
    job.completedRanges = {{0, 5000, 0, 0}};
    job.RecomputeCompletedBytes();
    job.hasData = true;
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Not find downloaded file, can't resume!"));
    EXPECT_TRUE(logged(job, "Create or Open file error."));
    ASSERT_FALSE(job.completedRanges.empty());
    EXPECT_EQ(job.completedRanges.front(), (CompletedRange{0, 5000, 0, 0}));
    EXPECT_FALSE(fs::exists(folder() / "gone.bin.kx!"));
}

TEST_F(JobRunnerFilesTest, ShortPartialFileHasItsMissingTailFetchedAgain)
{
    DownloadJob& job = makeJob("http://127.0.0.1:8080/short.bin", 1);
    job.SetFileSize(static_cast<int64_t>(m_source.size()));
    // The ranges claim 8000 bytes, the file holds only 3000 of them.
    writeFile(job.GetTempPath(), m_source.substr(0, 3000));
    job.completedRanges = {{0, 8000, 0, 0}};
    job.RecomputeCompletedBytes();
    job.hasData = true;
    m_settings.SetOption(OptionId::AllocateDiskSpace, 0);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(folder() / "short.bin"), m_source);
}

class LinkInspector final : public SmallFileInspector {
public:
    std::string sameNameLink(const fs::path& file, const std::string& pageUrl, const std::string& fileName) override
    {
        seenFile = file;
        seenPage = pageUrl;
        seenName = fileName;
        return readFile(file).find("<a href") != std::string::npos ? link : std::string();
    }
    std::string playListMedia(const fs::path&, const std::string&) override { return {}; }

    std::string link;
    fs::path seenFile;
    std::string seenPage;
    std::string seenName;
};

TEST_F(JobRunnerFilesTest, SmallHtmlPageForAZipUrlRestartsTheJobOnTheLinkedFile)
{
    LinkInspector inspector;
    inspector.link = "http://127.0.0.2:8080/dist/tool.zip";
    m_ctx.smallFiles = &inspector;
    m_settings.SetOption(OptionId::MonitorFlags, 0x15F | static_cast<int32_t>(kMonitorLinkedFileCheck));
    const std::string page = "<html><a href=\"/dist/tool.zip\">download</a>" + std::string(1950, ' ') + "</html>";
    const std::string archive = randomBytes(50000, 22);
    ServedFile pageFile{&page, -1, true, 1000, 0.0, 0};
    ServedFile archiveFile{&archive, -1, true, 4000, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, task.url.host == "127.0.0.2" ? archiveFile : pageFile); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/get/tool.zip");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.GetState() == JobState::Completed && m_threads.running() == 0; }));

    EXPECT_EQ(job.url, "http://127.0.0.2:8080/dist/tool.zip");
    EXPECT_EQ(job.referer, "http://127.0.0.1:8080/get/tool.zip");
    EXPECT_EQ(inspector.seenName, "tool.zip");
    EXPECT_EQ(inspector.seenPage, "http://127.0.0.1:8080/get/tool.zip");
    EXPECT_EQ(readFile(folder() / "tool.zip"), archive);
    EXPECT_FALSE(fs::exists(folder() / "tool(1).zip"));
}

TEST_F(JobRunnerFilesTest, PagesThatLinkToEachOtherStopRestartingTheJob)
{
    // Two small pages, each naming the other as the real file.
    class PingPongInspector final : public SmallFileInspector {
    public:
        std::string sameNameLink(const fs::path&, const std::string& pageUrl, const std::string&) override
        {
            ++calls;
            return pageUrl.find("127.0.0.1") != std::string::npos ? "http://127.0.0.2:8080/a/tool.zip"
                                                                  : "http://127.0.0.1:8080/b/tool.zip";
        }
        std::string playListMedia(const fs::path&, const std::string&) override { return {}; }
        int calls = 0;
    } inspector;
    m_ctx.smallFiles = &inspector;
    m_settings.SetOption(OptionId::MonitorFlags, 0x15F | static_cast<int32_t>(kMonitorLinkedFileCheck));
    const std::string page = "<html><a href=\"tool.zip\">tool</a></html>";
    ServedFile pageFile{&page, -1, true, 1000, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, pageFile); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/get/tool.zip");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.GetState() == JobState::Completed && m_threads.running() == 0; }));

    EXPECT_EQ(job.run().smallFileRestarts, kMaxSmallFileRestarts);
    EXPECT_EQ(inspector.calls, kMaxSmallFileRestarts);
    EXPECT_EQ(readFile(folder() / "tool.zip"), page);
}

TEST_F(JobRunnerFilesTest, SmallFileWithoutALinkCompletesNormally)
{
    LinkInspector inspector;
    m_ctx.smallFiles = &inspector;
    m_settings.SetOption(OptionId::MonitorFlags, 0x15F | static_cast<int32_t>(kMonitorLinkedFileCheck));
    DownloadJob& job = makeJob("http://127.0.0.1:8080/small.zip");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(inspector.seenFile, folder() / "small.zip");
    EXPECT_EQ(readFile(folder() / "small.zip"), m_source);
}

}  // namespace
}  // namespace fetchora::test

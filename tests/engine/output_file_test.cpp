#include "engine/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "lang/string_table.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::span<const uint8_t> span(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

OutputFileRequest request(const fs::path& folder, const std::string& name)
{
    OutputFileRequest req;
    req.folder = folder;
    req.fileName = name;
    req.useTempName = true;
    req.sizeKnown = true;
    req.fileSize = 1000;
    return req;
}

std::vector<std::string> texts(const std::vector<FileLogLine>& lines)
{
    std::vector<std::string> out;
    for (const FileLogLine& line : lines)
        out.push_back(line.text);
    return out;
}

TEST(OpenOutputFile, NewJobWritesIntoTheTemporaryNameInsideANewFolder)
{
    TempDir dir;
    OutputFile file;
    const OutputFileResult result = OpenOutputFile(file, request(dir / "a" / "b", "data.bin"));
    ASSERT_TRUE(result.ok) << result.systemError;
    EXPECT_EQ(result.path, dir / "a" / "b" / "data.bin.kx!");
    ASSERT_TRUE(file.Write(10, span("hello")));
    ASSERT_TRUE(file.Close());
    const std::string content = readFile(dir / "a" / "b" / "data.bin.kx!");
    EXPECT_EQ(content.size(), 15u);
    EXPECT_EQ(content.substr(10), "hello");
    EXPECT_FALSE(fs::exists(dir / "a" / "b" / "data.bin"));
}

TEST(OpenOutputFile, ResumeKeepsThePartialFileAndRefusesWhenItIsGone)
{
    TempDir dir;
    writeFile(dir / "data.bin.kx!", "0123456789");
    OutputFileRequest req = request(dir.path(), "data.bin");
    req.completedBytes = 10;
    req.hasData = true;
    req.preallocate = true;

    OutputFile file;
    const OutputFileResult resumed = OpenOutputFile(file, req);
    ASSERT_TRUE(resumed.ok);
    EXPECT_EQ(resumed.existingLength, 10);
    ASSERT_TRUE(file.Write(10, span("ab")));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(readFile(dir / "data.bin.kx!"), "0123456789ab");

    fs::remove(dir / "data.bin.kx!");
    OutputFile again;
    const JobWriteOutcome outcome = writeJobBlock(
        again, [&] { return req; }, 12, span("cd"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(texts(outcome.log),
              (std::vector<std::string>{"Not find downloaded file, can't resume!", std::string(builtinString(61216))}));
    EXPECT_EQ(outcome.log[0].kind, LogKind::Error);
    EXPECT_FALSE(fs::exists(dir / "data.bin.kx!"));
}

TEST(OpenOutputFile, AJobWhoseRangesWereAllTakenBackKeepsItsBytesUntilOverwritten)
{
    // A failed sync took every range back; the database on disk may still
    // claim the first bytes, which must stay until the download rewrites them.
    TempDir dir;
    writeFile(dir / "data.bin.kx!", std::string(1200, 'x'));
    OutputFileRequest req = request(dir.path(), "data.bin");
    req.hasData = true;
    req.completedBytes = 0;

    OutputFile file;
    const OutputFileResult opened = OpenOutputFile(file, req);
    ASSERT_TRUE(opened.ok) << opened.systemError;
    ASSERT_TRUE(file.Write(0, span("new")));
    ASSERT_TRUE(file.Close());
    // Cut to the size (1000): what lies beyond belongs to no range.
    EXPECT_EQ(readFile(dir / "data.bin.kx!"), "new" + std::string(997, 'x'));

    // Without a known size the file starts afresh, as before.
    req.sizeKnown = false;
    req.fileSize = -1;
    OutputFile unsized;
    ASSERT_TRUE(OpenOutputFile(unsized, req).ok);
    ASSERT_TRUE(unsized.Write(0, span("ab")));
    ASSERT_TRUE(unsized.Close());
    EXPECT_EQ(readFile(dir / "data.bin.kx!"), "ab");
}

TEST(OpenOutputFile, ExistingDestinationIsLeftAloneUnlessOverwriteIsChosen)
{
    TempDir dir;
    writeFile(dir / "report.pdf", "precious");
    writeFile(dir / "report(1).pdf", "also precious");

    OutputFileRequest stop = request(dir.path(), "report.pdf");
    stop.useTempName = false;
    stop.destination = DestinationPolicy::Stop;
    OutputFile file;
    const JobWriteOutcome halted = writeJobBlock(
        file, [&] { return stop; }, 0, span("new"));
    EXPECT_FALSE(halted.ok);
    ASSERT_EQ(halted.log.size(), 2u);
    EXPECT_EQ(halted.log[0].text, "Destination file exists, download job is halted.");
    EXPECT_EQ(halted.log[0].kind, LogKind::Status);
    EXPECT_EQ(halted.log[1].text, "Create or Open file error.");
    EXPECT_EQ(halted.log[1].kind, LogKind::Error);
    EXPECT_EQ(readFile(dir / "report.pdf"), "precious");

    OutputFileRequest rename = stop;
    rename.destination = DestinationPolicy::AutoRename;
    const OutputFileResult renamed = OpenOutputFile(file, rename);
    ASSERT_TRUE(renamed.ok);
    EXPECT_EQ(renamed.fileName, "report(2).pdf");
    ASSERT_TRUE(file.Write(0, span("new")));
    file.Close();
    EXPECT_EQ(readFile(dir / "report(2).pdf"), "new");
    EXPECT_EQ(readFile(dir / "report.pdf"), "precious");
    EXPECT_EQ(readFile(dir / "report(1).pdf"), "also precious");

    OutputFileRequest overwrite = stop;
    overwrite.destination = DestinationPolicy::Overwrite;
    ASSERT_TRUE(OpenOutputFile(file, overwrite).ok);
    ASSERT_TRUE(file.Write(0, span("fresh")));
    file.Close();
    EXPECT_EQ(readFile(dir / "report.pdf"), "fresh");
}

TEST(OpenOutputFile, AutoRenameWithTemporaryNamesSkipsNamesWhosePartialFileExists)
{
    TempDir dir;
    writeFile(dir / "a.zip", "x");
    writeFile(dir / "a(1).zip.kx!", "other job");
    OutputFileRequest req = request(dir.path(), "a.zip");
    req.destination = DestinationPolicy::AutoRename;
    OutputFile file;
    const OutputFileResult result = OpenOutputFile(file, req);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.path, dir / "a(2).zip.kx!");
    EXPECT_EQ(readFile(dir / "a(1).zip.kx!"), "other job");
    EXPECT_EQ(FreeFileName(dir.path(), "README", false), "README(1)");
}

TEST(OpenOutputFile, UnwritableFolderOrHostileNameFailsWithTheCreateMessage)
{
    TempDir dir;
    writeFile(dir / "blocker", "a file where a folder should be");
    OutputFile file;
    const JobWriteOutcome blocked = writeJobBlock(
        file, [&] { return request(dir / "blocker" / "sub", "x.bin"); }, 0, span("data"));
    EXPECT_FALSE(blocked.ok);
    EXPECT_EQ(texts(blocked.log), (std::vector<std::string>{"Create or Open file error."}));
    EXPECT_FALSE(blocked.systemError.empty());

    if (::geteuid() != 0) {
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        const JobWriteOutcome locked = writeJobBlock(
            file, [&] { return request(dir / "locked", "x.bin"); }, 0, span("data"));
        EXPECT_FALSE(locked.ok);
        EXPECT_EQ(texts(locked.log), (std::vector<std::string>{"Create or Open file error."}));
        fs::permissions(dir / "locked", fs::perms::owner_all);
    }

    for (const char* name : {"../escape.bin", "..", "", "a/b"}) {
        EXPECT_FALSE(OpenOutputFile(file, request(dir / "in", name)).ok) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "escape.bin.kx!"));
}

TEST(OpenOutputFile, SymbolicLinkInPlaceOfTheFileIsNotFollowed)
{
    TempDir dir;
    writeFile(dir / "target", "keep me");
    fs::create_symlink(dir / "target", dir / "link.bin.kx!");
    OutputFile file;
    EXPECT_FALSE(OpenOutputFile(file, request(dir.path(), "link.bin")).ok);
    EXPECT_EQ(readFile(dir / "target"), "keep me");
}

TEST(OpenOutputFile, PreallocatesAndShowsTheNoticeOnlyAbove100MiB)
{
    TempDir dir;
    for (const int64_t size : {int64_t{104857600}, int64_t{104857601}}) {
        int shown = 0;
        int hidden = 0;
        OutputFileRequest req = request(dir.path(), "big" + std::to_string(size));
        req.fileSize = size;
        req.preallocate = true;
        req.showAllocationNotice = [&] { ++shown; };
        req.hideAllocationNotice = [&] { ++hidden; };
        OutputFile file;
        ASSERT_TRUE(OpenOutputFile(file, req).ok);
        EXPECT_EQ(file.length(), size);
        file.Close();
        fs::remove(dir / ("big" + std::to_string(size) + ".kx!"));
        EXPECT_EQ(shown, size > 104857600 ? 1 : 0);
        EXPECT_EQ(hidden, shown);
    }

    // allocdiskpop 0: no notice; a stream job sets the length.
    int shown = 0;
    OutputFileRequest quiet = request(dir.path(), "quiet");
    quiet.fileSize = 104857601;
    quiet.preallocate = true;
    quiet.allocationNotice = false;
    quiet.showAllocationNotice = [&] { ++shown; };
    quiet.stream = true;
    OutputFile file;
    ASSERT_TRUE(OpenOutputFile(file, quiet).ok);
    EXPECT_EQ(file.length(), 104857601);
    EXPECT_EQ(shown, 0);
}

TEST(OutputFile, WritesBeyondFourGibibytesInASparseFile)
{
    TempDir dir;
    OutputFileRequest req = request(dir.path(), "huge.iso");
    req.fileSize = 6LL << 30;
    OutputFile file;
    ASSERT_TRUE(OpenOutputFile(file, req).ok);
    const int64_t position = (5LL << 30) + 12345;
    ASSERT_TRUE(file.Write(position, span("far away")));
    ASSERT_TRUE(file.Write(0, span("near")));
    ASSERT_TRUE(file.Close());

    const fs::path path = dir / "huge.iso.kx!";
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(path)), position + 8);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buffer[8] = {};
    EXPECT_EQ(::pread(fd, buffer, 8, static_cast<off_t>(position)), 8);
    ::close(fd);
    EXPECT_EQ(std::string(buffer, 8), "far away");
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_LT(static_cast<int64_t>(info.st_blocks) * 512, 1 << 20);  // sparse
}

TEST(OutputFile, CacheGathersSmallWritesAndFlushesThemInOrder)
{
    TempDir dir;
    OutputFileRequest req = request(dir.path(), "cached.bin");
    req.fileSize = 200000;
    req.useCache = true;
    req.bufferSizeKb = 1;  // 1032 bytes
    OutputFile file;
    ASSERT_TRUE(OpenOutputFile(file, req).ok);
    ASSERT_NE(file.cache(), nullptr);
    EXPECT_EQ(file.cache()->capacity(), 1032u);

    ASSERT_TRUE(file.Write(100, span("BB")));
    ASSERT_TRUE(file.Write(0, span("AA")));
    EXPECT_EQ(fs::file_size(dir / "cached.bin.kx!"), 0u);  // still cached
    // Too large for the room left: the cache is flushed, the block written directly.
    const std::string big(1000, 'C');
    ASSERT_TRUE(file.Write(200, span(big)));
    EXPECT_TRUE(file.cache()->empty());
    ASSERT_TRUE(file.Write(1300, span("DD")));
    ASSERT_TRUE(file.Close(1000000000));

    const std::string content = readFile(dir / "cached.bin.kx!");
    ASSERT_EQ(content.size(), 1302u);
    EXPECT_EQ(content.substr(0, 2), "AA");
    EXPECT_EQ(content.substr(100, 2), "BB");
    EXPECT_EQ(content.substr(200, 1000), big);
    EXPECT_EQ(content.substr(1300), "DD");
    struct stat info { };
    ASSERT_EQ(::stat((dir / "cached.bin.kx!").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);

    // Small or unsized files are written without the cache.
    OutputFileRequest small = req;
    small.fileName = "small.bin";
    small.fileSize = 102400;
    OutputFile smallFile;
    ASSERT_TRUE(OpenOutputFile(smallFile, small).ok);
    EXPECT_EQ(smallFile.cache(), nullptr);
}

TEST(OutputFile, SyncWritesTheCacheOutAndSyncsOnlyWhatChangedSinceTheLastSync)
{
    TempDir dir;
    OutputFileRequest req = request(dir.path(), "synced.bin");
    req.fileSize = 200000;
    req.useCache = true;
    OutputFile file;
    ASSERT_TRUE(OpenOutputFile(file, req).ok);
    // A file nothing was written to has nothing to sync.
    ASSERT_TRUE(file.Sync());
    EXPECT_EQ(file.syncCount(), 0u);

    ASSERT_TRUE(file.Write(0, span("first")));
    ASSERT_TRUE(file.Write(5, span("second")));
    EXPECT_EQ(fs::file_size(dir / "synced.bin.kx!"), 0u);  // still cached
    ASSERT_TRUE(file.Sync());
    EXPECT_EQ(file.syncCount(), 1u);
    EXPECT_EQ(readFile(dir / "synced.bin.kx!"), "firstsecond");
    EXPECT_TRUE(file.cache()->empty());

    // Saves that find nothing new cost no sync.
    ASSERT_TRUE(file.Sync());
    ASSERT_TRUE(file.Sync());
    EXPECT_EQ(file.syncCount(), 1u);

    ASSERT_TRUE(file.Write(11, span("third")));
    ASSERT_TRUE(file.Sync());
    EXPECT_EQ(file.syncCount(), 2u);
    // Closing a file synced since its last write syncs nothing more...
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(file.syncCount(), 2u);

    // ...while closing one with new data syncs it once.
    OutputFile other;
    OutputFileRequest otherReq = request(dir.path(), "closed.bin");
    ASSERT_TRUE(OpenOutputFile(other, otherReq).ok);
    for (int64_t at = 0; at < 100; at += 10)
        ASSERT_TRUE(other.Write(at, span("0123456789")));
    ASSERT_TRUE(other.Close());
    EXPECT_EQ(other.syncCount(), 1u);
}

// Holds the file-size limit of the process low for one test, so that writes
// beyond it fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        struct rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool active() const { return m_active; }

private:
    struct rlimit m_old { };
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

TEST(OutputFile, FailedWritesReportTheWriteMessageAndWhatDidNotReachTheDisk)
{
    TempDir dir;
    OutputFileRequest req = request(dir.path(), "full.bin");
    req.fileSize = 200000;
    req.useCache = true;
    OutputFile file;
    ASSERT_TRUE(OpenOutputFile(file, req).ok);
    ASSERT_TRUE(file.Write(0, span("early")));
    ASSERT_TRUE(file.Write(5000, span("late")));

    FileSizeLimit limit(1000);
    ASSERT_TRUE(limit.active());
    // The record below the limit reaches the disk; the one beyond stays
    // pending and is reported, so that its range can be taken back.
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(file.unwrittenRanges(), (std::vector<CompletedRange>{{5000, 5004, 0, 0}}));

    const std::string big(300000, 'x');
    const JobWriteOutcome outcome = writeJobBlock(
        file, [&] { return req; }, 6000, span(big));
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.opened);
    EXPECT_EQ(texts(outcome.log),
              (std::vector<std::string>{"Write to file error!  Please use SCANDISK utility to fix this error."}));
    EXPECT_EQ(outcome.log[0].kind, LogKind::Error);

    EXPECT_FALSE(file.Close());
    EXPECT_EQ(file.unwrittenRanges(), (std::vector<CompletedRange>{{5000, 5004, 0, 0}}));
    EXPECT_EQ(readFile(dir / "full.bin.kx!").substr(0, 5), "early");
}

}  // namespace
}  // namespace fetchora

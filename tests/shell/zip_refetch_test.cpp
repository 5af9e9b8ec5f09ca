// The whole repair of a damaged archive: a job downloads a zip from nginx,
// two entries of the local copy are damaged, the zip check finds them, their
// ranges go back to the job, and its next run fetches exactly those ranges
// (nginx's log shows the Range of every request) and ends with the original
// bytes.
#include "engine/runner_fixture.h"
#include "net/http_transfer.h"
#include "shell/zip_check.h"
#include "shell/zip_fixture.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

namespace fetchora::test {
namespace {

class ZipRefetch : public RunnerTest {
protected:
    ZipRefetch() { m_threads.registerProcedure(ServiceCode::Http, HttpTransfer); }

    // The Range header of every request logged since `from` lines, once the
    // log holds at least `count` more lines.
    std::vector<std::string> rangesLogged(size_t from, size_t count)
    {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            lines.clear();
            std::ifstream log(m_nginx.rangeLogFile());
            for (std::string line; std::getline(log, line);)
                lines.push_back(line);
            if (lines.size() >= from + count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < deadline);
        std::vector<std::string> ranges;
        for (size_t i = from; i < lines.size(); ++i) {
            const size_t open = lines[i].find('"');
            const size_t close = lines[i].find('"', open + 1);
            ranges.push_back(lines[i].substr(open + 1, close - open - 1));
        }
        return ranges;
    }

    size_t logLines()
    {
        std::ifstream log(m_nginx.rangeLogFile());
        return static_cast<size_t>(std::count(std::istreambuf_iterator<char>(log), {}, '\n'));
    }

    NginxPeer m_nginx;
    TempDir m_source;
};

TEST_F(ZipRefetch, OnlyTheDamagedEntriesAreFetchedAgain)
{
    const MadeZip zip = makeZip(m_source.path());
    m_nginx.writeServedFile("files/archive.zip", zip.bytes);
    DownloadJob& job = makeJob("http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/files/archive.zip", 3);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    const std::string local = job.GetLocalPath();
    {
        JobLockGuard guard(m_lock);
        ASSERT_EQ(job.GetState(), JobState::Completed);
    }
    ASSERT_EQ(readFile(local), zip.bytes);
    EXPECT_EQ(checkZipArchive(local).kind, ZipCheckKind::Clean);

    std::string damaged = zip.bytes;
    corruptEntry(damaged, zip, 1);
    corruptEntry(damaged, zip, 4);
    writeFile(local, damaged);
    const ZipCheckResult result = checkZipArchive(local);
    ASSERT_EQ(result.kind, ZipCheckKind::Damaged);
    ASSERT_EQ(result.damaged, (std::vector<FileSpan>{zip.entries[1], zip.entries[4]}));

    const size_t before = logLines();
    {
        JobLockGuard guard(m_lock);
        ASSERT_EQ(RefetchRanges(job, result.damaged), RefetchResult::Ready);
        EXPECT_EQ(job.completedBytes, static_cast<int64_t>(zip.bytes.size()) - zipRedownloadBytes(result.damaged));
    }
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    {
        JobLockGuard guard(m_lock);
        ASSERT_EQ(job.GetState(), JobState::Completed);
    }
    EXPECT_EQ(readFile(local), zip.bytes);
    EXPECT_FALSE(std::filesystem::exists(job.GetTempPath()));

    const std::vector<std::string> ranges = rangesLogged(before, 2);
    const std::set<std::string> asked(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges.size(), 2u);
    EXPECT_EQ(asked,
              (std::set<std::string>{"bytes=" + std::to_string(zip.entries[1].first) + "-",
                                     "bytes=" + std::to_string(zip.entries[4].first) + "-"}));
}

}  // namespace
}  // namespace fetchora::test

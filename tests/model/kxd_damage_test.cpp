// Damaged database files: cut short at every offset, bytes changed at
// random, counts and lengths that claim far more than the file holds. A
// load must end, keep a sound tree of what it could read, report the damage
// and never reserve memory for data that is not there.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/category_tree.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "model/kxd_fixture.h"
#include "model/kxd_format.h"

namespace fetchora {
namespace {

KxdLoadOptions loadOptions()
{
    KxdLoadOptions options;
    options.defaults.maxParallelNum = 10;
    return options;
}

// What holds for any tree a load produced, whatever the bytes were.
void expectSoundTree(const CZoviradDoc& doc, const KxdLoadReport& report)
{
    const CComPtrTree& tree = doc.tree();
    EXPECT_EQ(tree.size(), report.nodesRead);
    EXPECT_LE(report.nodesRead, static_cast<size_t>(std::max(report.declaredNodes, 0)));
    for (const DownloadJob* node : tree.nodes()) {
        if (node->parent()) {
            EXPECT_TRUE(tree.Contains(node->parent()));
        }
        if (node->IsCategory())
            continue;
        EXPECT_NE(node->GetState(), JobState::Downloading);
        EXPECT_GE(node->splitCount, 1);
        EXPECT_LE(node->splitCount, 10);
        int64_t sum = 0;
        int64_t previousEnd = -1;
        for (const CompletedRange& range : node->completedRanges) {
            EXPECT_GE(range.start, 0);
            EXPECT_GT(range.end, range.start);
            EXPECT_GT(range.start, previousEnd);
            previousEnd = range.end;
            sum += range.length();
        }
        EXPECT_EQ(node->completedBytes, sum);
    }
    // Whatever was loaded can be stored and read back whole.
    bool stored = false;
    const std::string again = StoreTree(tree, &stored);
    EXPECT_TRUE(stored);
    JobLock lock;
    CZoviradDoc other(lock);
    const KxdLoadReport second = LoadTree(again, other, loadOptions());
    EXPECT_FALSE(second.damaged());
    EXPECT_EQ(second.nodesRead, tree.size());
}

// A job record with raw alternate and range counts and no items after them.
void jobWithCounts(test::KxdBytes& b, int64_t alternates, int64_t ranges)
{
    b.i32(2).i32(5).i32(6).i32(0).i32(-1).i32(0).i32(0x0D);
    b.str("http://example.com/a").i32(0).str("").str("").i32(3).str("").i32(1).str("").str("");
    b.i16(0).i16(0).i32(1).i32(-1).str("").i32(-1).i32(-1).i32(-1).str("").i32(0).i16(0);
    b.i32(alternates).i32(ranges);
}

// Runs the work in a child process whose address space is capped at 512
// MiB above what it already uses, so that any attempt to reserve memory
// for an absurd count or length kills the child instead of passing.
int exitCodeUnderMemoryCap(const std::function<void()>& work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (512u << 20);
        const rlimit limit{cap, cap};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            work();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(KxdDamage, AFileCutAtAnyOffsetKeepsTheRecordsBeforeTheCut)
{
    const std::string full = test::handAssembledDatabase();
    size_t previousNodes = 0;
    for (size_t cut = 0; cut < full.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        JobLock lock;
        CZoviradDoc doc(lock);
        const KxdLoadReport report = LoadTree(full.substr(0, cut), doc, loadOptions());
        if (cut == 0) {
            EXPECT_FALSE(report.signature);
            EXPECT_FALSE(report.damaged());
        } else {
            // A count cut off from its items is refused before they are read.
            EXPECT_TRUE(report.error == ArchiveError::EndOfFile || report.error == ArchiveError::BadCount)
                << archiveErrorText(report.error);
            EXPECT_LE(report.errorOffset, cut);
        }
        EXPECT_LT(report.nodesRead, 4u);
        EXPECT_GE(report.nodesRead, previousNodes);
        previousNodes = report.nodesRead;
        expectSoundTree(doc, report);
    }
    EXPECT_EQ(previousNodes, 3u) << "cut inside the last record, the first three stay";
}

TEST(KxdDamage, RandomlyChangedBytesNeverBreakTheLoad)
{
    const std::string full = test::handAssembledDatabase();
    size_t damagedLoads = 0;
    for (uint32_t seed = 0; seed < 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string bytes = full;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i) {
            const size_t at = random() % bytes.size();
            switch (random() % 3) {
            case 0: bytes[at] = static_cast<char>(random() & 0xFF); break;
            case 1: bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8))); break;
            default:  // a count or length claiming everything
                for (size_t j = at; j < std::min(at + 4, bytes.size()); ++j)
                    bytes[j] = static_cast<char>(j == at + 3 && (random() & 1) ? 0x7F : 0xFF);
            }
        }
        JobLock lock;
        CZoviradDoc doc(lock);
        const KxdLoadReport report = LoadDatabaseBytes(doc, bytes, loadOptions());
        if (report.damaged())
            ++damagedLoads;
        EXPECT_NE(doc.root(), nullptr);
        EXPECT_NE(doc.downloading(), nullptr);
        EXPECT_NE(doc.downloaded(), nullptr);
        EXPECT_NE(doc.deleted(), nullptr);

        CZoviradDoc plain(lock);
        expectSoundTree(plain, LoadTree(bytes, plain, loadOptions()));
    }
    EXPECT_GT(damagedLoads, 100u) << "the changes do reach the structure";
}

TEST(KxdDamage, AbsurdCountsAndLengthsAreReportedWithoutReservingMemory)
{
    struct Case {
        const char* what;
        std::string bytes;
        ArchiveError error;
        size_t nodes;
    };
    std::vector<Case> cases;
    {
        test::KxdBytes b;
        b.u8(0x48).i32(0x7FFFFFFF);
        jobWithCounts(b, 0, 0);
        cases.push_back({"node count far above the records", b.data, ArchiveError::EndOfFile, 1});
    }
    {
        test::KxdBytes b;
        b.u8(0x48).i32(-1);
        jobWithCounts(b, 0, 0);
        cases.push_back({"negative node count", b.data, ArchiveError::BadCount, 0});
    }
    for (int64_t count : {0x7FFFFFFFLL, 0xFFFFFFFFLL, 0x80000000LL}) {
        test::KxdBytes alternates;
        alternates.u8(0x48).i32(1);
        jobWithCounts(alternates, count, 0);
        cases.push_back({"alternate count", alternates.data, ArchiveError::BadCount, 0});
        test::KxdBytes ranges;
        ranges.u8(0x48).i32(1);
        jobWithCounts(ranges, 0, count);
        cases.push_back({"range count", ranges.data, ArchiveError::BadCount, 0});
    }
    {
        test::KxdBytes b;
        b.u8(0x48).i32(1).i32(1).i32(1).i32(0).i32(1).i32(-1).i32(1).i32(13);
        b.u8(0xFF).i16(0xFFFF).i32(0xFFFFFFFE).str("x");  // a name of 4 GiB - 2 bytes
        cases.push_back({"string length", b.data, ArchiveError::EndOfFile, 0});
    }
    {
        test::KxdBytes b;
        b.u8(0x48).i32(1).i32(3).i32(1).i32(0).i32(1).i32(-1).i32(1).i32(13).str("").str("");
        cases.push_back({"node tag", b.data, ArchiveError::BadTag, 0});
    }

    for (const Case& c : cases) {
        JobLock lock;
        CZoviradDoc doc(lock);
        const KxdLoadReport report = LoadTree(c.bytes, doc, loadOptions());
        EXPECT_EQ(report.error, c.error) << c.what;
        EXPECT_EQ(report.nodesRead, c.nodes) << c.what;
    }
    EXPECT_EQ(exitCodeUnderMemoryCap([&cases] {
                  for (const Case& c : cases) {
                      JobLock lock;
                      CZoviradDoc doc(lock);
                      LoadTree(c.bytes, doc, loadOptions());
                  }
              }),
              0);
}

}  // namespace
}  // namespace fetchora

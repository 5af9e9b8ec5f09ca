// writeFileAtomically on a file system that loses, at a power cut, every
// write not yet synced and any folder change not yet synced (or, as a real
// journal may, keeps some of them, in order): over a thousand saves cut at
// random steps, the target always holds the previous bytes or the new ones,
// whole.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "platform/atomic_file.h"
#include "support/power_cut_disk.h"

namespace fetchora {
namespace {

using test::PowerCut;
using test::PowerCutDisk;
using test::PowerCutDiskImages;

// A writer that skips the sync of the data before the rename, the fault the
// power-cut double must catch.
class SkipDataSync : public AtomicWriteCalls {
public:
    explicit SkipDataSync(AtomicWriteCalls& inner) : m_inner(inner) { }
    int makeTemporary(std::string& pattern) override { return m_inner.makeTemporary(pattern); }
    bool writeAll(int fd, std::string_view bytes) override { return m_inner.writeAll(fd, bytes); }
    bool sync(int) override { return true; }
    void keepMode(int fd, const std::filesystem::path& target) override { m_inner.keepMode(fd, target); }
    bool close(int fd) override { return m_inner.close(fd); }
    bool rename(const std::string& from, const std::string& to) override { return m_inner.rename(from, to); }
    void unlink(const std::string& path) override { m_inner.unlink(path); }
    void syncFolder(const std::filesystem::path& folder) override { m_inner.syncFolder(folder); }

private:
    AtomicWriteCalls& m_inner;
};

// Saves `cycles` versions, each cut at a random step (or not at all), and
// counts the reboots that found the target neither the previous version nor
// the new one.
int tornAfterCuts(uint32_t seed, int cycles, bool skipDataSync)
{
    PowerCutDisk disk(seed);
    PowerCutDiskImages files(disk);
    SkipDataSync faulty(files);
    AtomicWriteCalls& calls = skipDataSync ? static_cast<AtomicWriteCalls&>(faulty) : files;
    std::mt19937 random(seed ^ 0x5bd1e995u);
    const std::string target = "/db/Default.kxd";
    std::optional<std::string> previous;
    int torn = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const std::string next = "version " + std::to_string(cycle) + " " + std::string(random() % 300, 'x');
        disk.cutAt(static_cast<int>(random() % 8));  // 7 calls in a save; 7 means no cut
        bool cut = false;
        try {
            EXPECT_TRUE(writeFileAtomically(target, next, calls));
        } catch (const PowerCut&) {
            cut = true;
        }
        if (cut)
            disk.reboot();
        const std::optional<std::string> found = disk.contents(target);
        if (found != previous && found != next)
            ++torn;
        previous = found;
    }
    return torn;
}

TEST(AtomicFilePowerCut, ThePreviousOrTheNewBytesSurviveEveryCut)
{
    for (const uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(tornAfterCuts(seed, 1000, false), 0);
    }
}

TEST(AtomicFilePowerCut, TheDoubleCatchesARenameBeforeTheDataIsSynced)
{
    EXPECT_GT(tornAfterCuts(1, 1000, true), 0);
}

TEST(AtomicFilePowerCut, AWholeSaveWithoutACutMakesSevenCallsAndKeepsTheBytes)
{
    PowerCutDisk disk(7);
    PowerCutDiskImages files(disk);
    disk.cutAt(-1);
    ASSERT_TRUE(writeFileAtomically("/db/x", "bytes", files));
    EXPECT_EQ(disk.callsMade(), 7);
    disk.reboot();  // everything was synced
    EXPECT_EQ(disk.contents("/db/x"), "bytes");
}

}  // namespace
}  // namespace fetchora

// writeFileAtomically on a file system that loses, at a power cut, every
// write not yet synced and any folder change not yet synced (or, as a real
// journal may, keeps some of them, in order): over a thousand saves cut at
// random steps, the target always holds the previous bytes or the new ones,
// whole.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/atomic_file.h"

namespace fetchora {
namespace {

struct PowerCut { };

class PowerCutFiles : public AtomicWriteCalls {
public:
    explicit PowerCutFiles(uint32_t seed) : m_random(seed) { }

    // The power goes before the call with this number (counted from 0).
    void cutBefore(int call)
    {
        m_cutAt = call;
        m_calls = 0;
    }
    int callsMade() const { return m_calls; }

    // After a cut: what the disk holds becomes the whole state.
    void reboot()
    {
        // The journal may have committed some of the folder changes, in order.
        const size_t kept = m_pending.empty() ? 0 : m_random() % (m_pending.size() + 1);
        for (size_t i = 0; i < kept; ++i)
            apply(m_durableNames, m_pending[i]);
        m_pending.clear();
        for (auto& [inode, file] : m_inodes) {
            // Unsynced data is lost, or reached the disk anyway.
            if (m_random() % 2 == 0)
                file.data = file.synced;
            file.synced = file.data;
        }
        m_names = m_durableNames;
        m_open.clear();
    }

    std::optional<std::string> read(const std::string& path) const
    {
        const auto name = m_names.find(path);
        if (name == m_names.end())
            return std::nullopt;
        return m_inodes.at(name->second).data;
    }

    int makeTemporary(std::string& pattern) override
    {
        step();
        pattern.replace(pattern.size() - 6, 6, std::to_string(100000 + m_nextInode));
        const int inode = m_nextInode++;
        m_inodes[inode] = {};
        change({pattern, inode, {}});
        const int fd = m_nextFd++;
        m_open[fd] = inode;
        return fd;
    }
    bool writeAll(int fd, std::string_view bytes) override
    {
        step();
        m_inodes[m_open.at(fd)].data.append(bytes);
        return true;
    }
    bool sync(int fd) override
    {
        step();
        Inode& file = m_inodes[m_open.at(fd)];
        file.synced = file.data;
        return true;
    }
    void keepMode(int, const std::filesystem::path&) override { step(); }
    bool close(int fd) override
    {
        step();
        return m_open.erase(fd) == 1;
    }
    bool rename(const std::string& from, const std::string& to) override
    {
        step();
        const auto name = m_names.find(from);
        if (name == m_names.end())
            return false;
        change({to, name->second, from});
        return true;
    }
    void unlink(const std::string& path) override
    {
        step();
        change({path, -1, {}});
    }
    void syncFolder(const std::filesystem::path&) override
    {
        step();
        for (const NameChange& pending : m_pending)
            apply(m_durableNames, pending);
        m_pending.clear();
    }

private:
    struct Inode {
        std::string data;
        std::string synced;
    };
    struct NameChange {
        std::string name;
        int inode = -1;  // -1: the name goes
        std::string from;  // a rename also drops this name
    };

    void step()
    {
        if (m_calls++ == m_cutAt)
            throw PowerCut{};
    }
    void change(const NameChange& change)
    {
        apply(m_names, change);
        m_pending.push_back(change);
    }
    static void apply(std::map<std::string, int>& names, const NameChange& change)
    {
        if (!change.from.empty())
            names.erase(change.from);
        if (change.inode < 0)
            names.erase(change.name);
        else
            names[change.name] = change.inode;
    }

    std::mt19937 m_random;
    std::map<int, Inode> m_inodes;
    std::map<std::string, int> m_names;
    std::map<std::string, int> m_durableNames;
    std::vector<NameChange> m_pending;
    std::map<int, int> m_open;
    int m_nextInode = 1;
    int m_nextFd = 3;
    int m_cutAt = -1;
    int m_calls = 0;
};

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
    PowerCutFiles files(seed);
    SkipDataSync faulty(files);
    AtomicWriteCalls& calls = skipDataSync ? static_cast<AtomicWriteCalls&>(faulty) : files;
    std::mt19937 random(seed ^ 0x5bd1e995u);
    const std::string target = "/db/Default.kxd";
    std::optional<std::string> previous;
    int torn = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const std::string next = "version " + std::to_string(cycle) + " " + std::string(random() % 300, 'x');
        files.cutBefore(static_cast<int>(random() % 8));  // 7 calls in a save; 7 means no cut
        bool cut = false;
        try {
            EXPECT_TRUE(writeFileAtomically(target, next, calls));
        } catch (const PowerCut&) {
            cut = true;
        }
        if (cut)
            files.reboot();
        const std::optional<std::string> found = files.read(target);
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
    PowerCutFiles files(7);
    files.cutBefore(-1);
    ASSERT_TRUE(writeFileAtomically("/db/x", "bytes", files));
    EXPECT_EQ(files.callsMade(), 7);
    files.reboot();  // everything was synced
    EXPECT_EQ(files.read("/db/x"), "bytes");
}

}  // namespace
}  // namespace fetchora

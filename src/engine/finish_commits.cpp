#include "engine/finish_commits.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/file_moves.h"

namespace fetchora {

FinishCommits::FinishCommits(std::filesystem::path journal, std::function<void()> resultsReady,
                             SyncFailures* failures, OutputFileCalls* calls)
    : m_journal(std::move(journal)),
      m_resultsReady(std::move(resultsReady)),
      m_failures(failures),
      m_calls(calls ? *calls : systemOutputFileCalls()),
      m_thread([this] { run(); })
{
}

FinishCommits::~FinishCommits()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void FinishCommits::submit(FinishCommit commit)
{
    {
        std::lock_guard lock(m_mutex);
        m_targets.push_back(commit.to);
        m_queue.push_back(std::move(commit));
        ++m_submitted;
    }
    m_wake.notify_all();
}

bool FinishCommits::targetPending(const std::filesystem::path& to) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_targets.begin(), m_targets.end(), to) != m_targets.end();
}

std::vector<FinishCommitResult> FinishCommits::takeResults()
{
    std::lock_guard lock(m_mutex);
    std::vector<FinishCommitResult> results;
    results.swap(m_results);
    return results;
}

void FinishCommits::drain()
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [this] { return m_reported == m_submitted; });
}

uint64_t FinishCommits::submitted() const
{
    std::lock_guard lock(m_mutex);
    return m_submitted;
}

void FinishCommits::waitSynced(uint64_t count)
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [this, count] { return m_synced >= count; });
}

void FinishCommits::run()
{
    for (;;) {
        std::vector<FinishCommit> group;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                return;
            group.swap(m_queue);
        }
        std::vector<FinishCommitResult> results = commitGroup(group);
        {
            std::lock_guard lock(m_mutex);
            for (const FinishCommit& commit : group) {
                const auto target = std::find(m_targets.begin(), m_targets.end(), commit.to);
                if (target != m_targets.end())
                    m_targets.erase(target);
            }
            m_results.insert(m_results.end(), results.begin(), results.end());
            m_reported += group.size();
        }
        m_progress.notify_all();
        if (m_resultsReady)
            m_resultsReady();
    }
}

std::vector<FinishCommitResult> FinishCommits::commitGroup(std::vector<FinishCommit>& group)
{
    std::vector<FinishCommitResult> results(group.size());
    // The writeback of every file starts before the first sync waits, so
    // that the syncs overlap and mostly share the file system's commits.
    for (const FinishCommit& commit : group) {
        if (commit.fd >= 0)
            ::sync_file_range(commit.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    uint64_t failed = 0;
    for (size_t i = 0; i < group.size(); ++i) {
        results[i].jobId = group[i].jobId;
        if (group[i].fd < 0)
            continue;
        if (m_calls.fdatasync(group[i].fd) != 0) {
            results[i].error = errno != 0 ? errno : EIO;
            results[i].syncFailed = true;
            ++failed;
        }
        m_calls.close(group[i].fd);
        group[i].fd = -1;
    }
    {
        // Counted before the syncs are told done, so that an image that
        // waited for them sees the failures.
        if (m_failures != nullptr && failed > 0)
            m_failures->failedOnSaver(failed);
        std::lock_guard lock(m_mutex);
        m_synced += group.size();
    }
    m_progress.notify_all();

    std::vector<FinishNote> notes;
    for (size_t i = 0; i < group.size(); ++i) {
        if (results[i].error == 0)
            notes.push_back({group[i].jobId, group[i].size, group[i].to.filename().string()});
    }
    if (notes.empty())
        return results;
    const std::string journalError = noteGroup(notes);
    for (size_t i = 0; i < group.size(); ++i) {
        if (results[i].error != 0)
            continue;
        if (!journalError.empty()) {
            // Without its note the file keeps its ".kx!" name.
            results[i].error = EIO;
            results[i].journalError = journalError;
            continue;
        }
        std::error_code error;
        if (!MoveFileNoReplace(group[i].from.string(), group[i].to.string(), error)) {
            results[i].error = error.value() != 0 ? error.value() : EEXIST;
            continue;
        }
        if (m_afterRename)
            m_afterRename(group[i]);
    }
    return results;
}

std::string FinishCommits::noteGroup(const std::vector<FinishNote>& notes)
{
    std::string lines;
    for (const FinishNote& note : notes)
        lines += FinishLine(note);
    std::string error;
    AppendFinishLines(m_journal, lines, error, [this](int fd) { return m_calls.fdatasync(fd); });
    return error;
}

}  // namespace fetchora

#include "shell/background_saver.h"

#include <cerrno>

namespace fetchora {

BackgroundSaver::BackgroundSaver(std::function<void(const BackgroundSaveReport&)> report, SyncFailures* failures)
    : m_report(std::move(report)), m_failures(failures ? *failures : m_ownFailures), m_thread([this] { run(); })
{
}

BackgroundSaver::~BackgroundSaver()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

BackgroundSaveReport PerformSave(const SaveWork& work, SyncFailures& failures, OutputFileCalls& files,
                                 AtomicWriteCalls& image)
{
    BackgroundSaveReport report;
    report.tag = work.tag;
    for (const FileToSync& file : work.files) {
        if (files.fdatasync(file.fd) != 0)
            report.failedSyncs.emplace_back(file.jobId, errno);
        files.close(file.fd);
    }
    failures.failedOnSaver(report.failedSyncs.size());
    if (work.beforeImage)
        work.beforeImage();
    // An image taken before a failure was taken back may claim what the
    // failed sync lost, though its own syncs succeeded: the failure may have
    // been reported to another descriptor of the file, here or on the loop.
    if (failures.imageMayBeWritten(work.failedSyncsHandled))
        report.save = WriteDatabaseImage(work.path, work.bytes, image);
    return report;
}

void BackgroundSaver::submit(std::filesystem::path path, std::string bytes, std::vector<FileToSync> files,
                             uint64_t failedSyncsHandled, uint64_t tag, std::function<void()> beforeImage)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_pending) {
            // The older image is dropped, its files are not: syncing them
            // again with the newer image's costs nothing extra.
            files.insert(files.end(), m_pending->files.begin(), m_pending->files.end());
        }
        // The newer image's wait covers the older one's.
        m_pending = SaveWork{std::move(path), std::move(bytes), std::move(files), failedSyncsHandled, tag,
                             std::move(beforeImage)};
    }
    m_wake.notify_all();
}

void BackgroundSaver::drain()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_pending && !m_busy; });
}

void BackgroundSaver::run()
{
    for (;;) {
        SaveWork work;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_pending || m_stopping; });
            if (!m_pending)
                return;
            work = std::move(*m_pending);
            m_pending.reset();
            m_busy = true;
        }
        const BackgroundSaveReport report
            = PerformSave(work, m_failures, systemOutputFileCalls(), systemAtomicWriteCalls());
        if (m_report)
            m_report(report);
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_idle.notify_all();
    }
}

}  // namespace fetchora

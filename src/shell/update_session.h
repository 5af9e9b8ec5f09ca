#pragma once
// What the update dialog does without a window, in its two modes: the
// version check asks the update source whether a newer program exists; the
// language-pack mode also lists the translations whose installed version
// differs from the offered one and downloads the ticked ones into the
// profile's language folder (the program's data folder is read-only).
//
// Each fetch is a DownloadJob of the session's own, run by the job runner
// into the session's temporary folder. A fetch is asked for with
// WM_USER+213 and its end arrives as WM_USER+214, both on the session's own
// message window, so that a fetch never starts or ends inside a caller's
// call.
//
// Thread: the loop thread (the GUI thread in the desktop program), for
// every call and every listener call. Owns its fetch job, the transfer
// threads and its temporary folder (removed when it goes). Borrows the
// application, the desktop and the listener, which must
// outlive it.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_context.h"
#include "model/job_notify.h"
#include "platform/message_window.h"
#include "shell/update_info.h"

namespace fetchora {

class Application;
class DesktopActions;
class RetiredHandleBlocks;
class RunnerHostWindow;
class SiteConnectionTable;
class TlsClientContext;
class TransferThreads;

inline constexpr uint32_t kUpdateFetchRequestMessage = kWmUser + 213;
inline constexpr uint32_t kUpdateFetchEndedMessage = kWmUser + 214;

enum class UpdateMode { LanguagePacks, VersionCheck };

// Where the session finds and puts things; filled from the application by
// UpdateSetupFor, and by tests directly.
struct UpdateSetup {
    std::string source;  // the "Update" "Source" setting
    bool simplifiedChinese = false;  // which download page opens
    std::filesystem::path writableLanguageFolder;  // the profile's
    std::filesystem::path shippedLanguageFolder;  // the program's (read only)
};
UpdateSetup UpdateSetupFor(Application& app);

class UpdateListener {
public:
    virtual ~UpdateListener() = default;
    // The dialog's text line while a fetch runs.
    virtual void statusChanged(const std::string& text) = 0;
    // The language packs that can be updated (language mode; enables "&Update").
    virtual void packsListed(const std::vector<LanguagePackRow>& rows) = 0;
    // Yes/No on a newer version: true for Yes (the download page opens).
    virtual bool askOpenDownloadPage(const std::string& question) = 0;
    // The work has ended with this text to show (empty when the user chose
    // to open the download page and nothing more is to be said).
    virtual void ended(const std::string& text) = 0;
};

class UpdateSession final : private MessageWindow, private RunnerHost, private JobNotifySink {
public:
    UpdateSession(Application& app, UpdateSetup setup, DesktopActions& desktop, UpdateListener& listener);
    ~UpdateSession() override;
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // Fetches the update information; the answer comes through the listener.
    void start(UpdateMode mode);
    // Downloads the packs in turn (language mode, after packsListed).
    void downloadPacks(const std::vector<LanguagePackRow>& rows);
    // Stops the running fetch; nothing more is reported.
    void cancel();
    bool busy() const { return m_active; }

    const std::filesystem::path& temporaryFolder() const { return m_tempFolder; }

private:
    void requestFetch(std::string url);
    void startFetch();
    void fetchEnded();
    void infoFetched(const std::filesystem::path& file);
    void packFetched(const std::filesystem::path& file);
    void nextPack();
    void end(const std::string& text);

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    // RunnerHost: only the end of the fetch job and its errors matter here.
    void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) override;
    void partAdded(DownloadJob&, JobPart&) override { }
    void saveDatabase() override { }
    bool moveJobToEnd(DownloadJob&) override { return false; }
    void jobEnded(DownloadJob&, StopReason) override { }
    void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) override;
    // JobNotifySink: the fetch job's changes, to stop one that grows past
    // what the file it fetches may hold.
    void post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    Application& m_app;
    UpdateSetup m_setup;
    DesktopActions& m_desktop;
    UpdateListener& m_listener;
    UpdateMode m_mode = UpdateMode::VersionCheck;
    std::filesystem::path m_tempFolder;
    uint32_t m_fetchNumber = 0;
    std::string m_url;
    bool m_requested = false;
    bool m_active = false;  // from a start or a pack download to its end
    bool m_fetchingInfo = false;
    std::vector<LanguagePackRow> m_packs;
    std::size_t m_nextPack = 0;
    std::unique_ptr<TlsClientContext> m_tls;
    std::unique_ptr<SiteConnectionTable> m_sites;
    std::unique_ptr<TransferThreads> m_threads;
    std::unique_ptr<RetiredHandleBlocks> m_retired;
    std::unique_ptr<RunnerHostWindow> m_hostWindow;
    EngineContext m_context;
    std::unique_ptr<DownloadJob> m_job;
};

}  // namespace fetchora

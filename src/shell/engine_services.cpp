#include "shell/engine_services.h"

#include <cstdlib>

#include "engine/job_runner.h"
#include "engine/runner_host_window.h"
#include "engine/site_connections.h"
#include "engine/thread_handle_block.h"
#include "engine/transfer_threads.h"
#include "explorer/small_file_links.h"
#include "mirrors/mirror_procedures.h"
#include "model/database_file.h"
#include "net/cookie_jar.h"
#include "net/tls_stream.h"
#include "shell/application.h"
#include "shell/speed_timer.h"
#include "shell/transfer_procedures.h"

namespace fetchora {

EngineServices::EngineServices(Application& app, RunnerHost& host, const std::string& extraCaFile)
{
    TlsSettings tlsSettings;
    // Tests and private set-ups trust their own authority besides the system's.
    tlsSettings.extraCaFile = extraCaFile;
    if (const char* extra = std::getenv("FETCHORA_EXTRA_CA_FILE"); extra && extraCaFile.empty())
        tlsSettings.extraCaFile = extra;
    m_tls = TlsClientContext::create(tlsSettings, &m_tlsError);

    AppSettings& settings = app.settings();
    m_sites = std::make_unique<SiteConnectionTable>(settings.siteRules());
    m_threads = std::make_unique<TransferThreads>(app.loop(), app.jobLock());
    registerTransferProcedures(*m_threads);
    m_retired = std::make_unique<RetiredHandleBlocks>(app.clock());
    m_hostWindow = std::make_unique<RunnerHostWindow>(app.loop(), host);
    m_smallFiles = std::make_unique<LinkSmallFileInspector>();
    m_hostWindow->create();
    m_speedTimer = std::make_unique<SpeedTimer>(app.loop(), app.limiter());

    m_context.settings = &settings;
    m_context.sites = m_sites.get();
    m_context.limiter = &app.limiter();
    m_context.jobLock = &app.jobLock();
    m_context.loop = &app.loop();
    m_context.threads = m_threads.get();
    m_context.retiredBlocks = m_retired.get();
    m_context.host = &host;
    m_context.hostWindow = m_hostWindow->id();
    m_context.clock = &app.clock();
    m_context.tls = m_tls.get();
    m_cookies = std::make_unique<CookieJar>(CookieJar::fileIn(app.profileFolder()));
    m_context.cookies = m_cookies.get();
    m_context.smallFiles = m_smallFiles.get();
    m_context.findListMirrors = listMirrorFinder(settings, settings.values().programFolder, app.profileFolder());
}

EngineServices::~EngineServices() = default;

bool EngineServices::joinThreads(std::chrono::milliseconds timeout)
{
    return m_threads->joinAll(timeout);
}

SaveResult SaveJobDatabase(CZoviradDoc& doc, const std::filesystem::path& path)
{
    return SaveDatabase(doc, path, [](DownloadJob& job) {
        if (job.runner())
            job.runner()->FlushForSave();
    });
}

}  // namespace fetchora

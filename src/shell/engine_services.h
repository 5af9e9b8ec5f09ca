#pragma once
// What every front end builds before jobs can run: the TLS context, the
// per-site connection table, the transfer threads with their procedures, the
// retirement list of handle blocks, the small-file check's link reader, the
// window that delivers the runner's posted messages to the host, the speed
// timer (the automatic limit, once a second), and the EngineContext that
// points at all of them. Also the database save that flushes running jobs first.
//
// Thread: built, used and destroyed on the loop thread. Owns the objects
// above; borrows the application (settings, loop, lock, limiter, clock) and
// the runner host, which must outlive it. Call joinThreads() before the jobs
// and the host go away.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/engine_context.h"

namespace fetchora {

class Application;
class CZoviradDoc;
class RetiredHandleBlocks;
class RunnerHostWindow;
class SmallFileInspector;
class SpeedTimer;
class SiteConnectionTable;
class CookieJar;
class TlsClientContext;
class TransferThreads;
struct SaveResult;

class EngineServices {
public:
    // extraCaFile: PEM authorities trusted besides the system's for this
    // run; when empty, those named by $FETCHORA_EXTRA_CA_FILE.
    EngineServices(Application& app, RunnerHost& host, const std::string& extraCaFile = {});
    ~EngineServices();
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    EngineContext& context() { return m_context; }
    SiteConnectionTable& sites() { return *m_sites; }
    // Why HTTPS cannot be used (no TLS context); empty when it can.
    const std::string& tlsError() const { return m_tlsError; }

    // Waits for the transfer threads; false when some did not end in time.
    bool joinThreads(std::chrono::milliseconds timeout);

private:
    std::string m_tlsError;
    std::unique_ptr<TlsClientContext> m_tls;
    std::unique_ptr<CookieJar> m_cookies;
    std::unique_ptr<SiteConnectionTable> m_sites;
    std::unique_ptr<TransferThreads> m_threads;
    std::unique_ptr<RetiredHandleBlocks> m_retired;
    std::unique_ptr<RunnerHostWindow> m_hostWindow;
    std::unique_ptr<SmallFileInspector> m_smallFiles;
    std::unique_ptr<SpeedTimer> m_speedTimer;
    EngineContext m_context;
};

// Saves the database, first writing out the write cache of every running
// job so that the ranges stored are on disk.
SaveResult SaveJobDatabase(CZoviradDoc& doc, const std::filesystem::path& path);

}  // namespace fetchora

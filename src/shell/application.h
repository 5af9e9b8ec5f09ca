#pragma once
// The application object: builds and owns everything that lives for the whole
// run (the settings store and settings, the job lock, the message loop, the
// speed limiter, the profile and temporary folders) and hands each front end
// what it needs. No singletons: main() builds one and passes references on.
//
// Thread: created, started and stopped on the thread that runs the loop.
#include <filesystem>
#include <memory>
#include <string>

#include "config/app_settings.h"
#include "net/speed_limiter.h"
#include "platform/job_lock.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/tcp_connection_count.h"
#include "platform/tick.h"

namespace fetchora {

// Name of the settings store file in the profile folder.
inline constexpr std::string_view kSettingsFileName = "settings.reg";
// Name of the default job database in the profile folder.
inline constexpr std::string_view kDefaultDatabaseName = "Default.kxd";

class Application {
public:
    explicit Application(Environment environment = processEnvironment());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Finds the folders, loads the settings store and the settings. False
    // with a message saying what went wrong and what to do.
    bool start(std::string& error);

    // Writes the settings back (only after a successful start).
    bool saveSettings();

    // Removes the temporary folder. Called once at exit.
    void stop();

    const std::filesystem::path& profileFolder() const { return m_profileFolder; }
    const std::filesystem::path& temporaryFolder() const { return m_temporaryFolder; }
    std::filesystem::path defaultDatabasePath() const { return m_profileFolder / kDefaultDatabaseName; }

    Registry& registry() { return *m_registry; }
    AppSettings& settings() { return *m_settings; }
    JobLock& jobLock() { return m_jobLock; }
    MessageLoop& loop() { return m_loop; }
    const Clock& clock() const { return m_clock; }
    SpeedLimiter& limiter() { return m_limiter; }

private:
    Environment m_environment;
    std::filesystem::path m_profileFolder;
    std::filesystem::path m_temporaryFolder;
    SystemClock m_clock;
    ProcTcpConnectionMonitor m_connections;
    JobLock m_jobLock;
    MessageLoop m_loop;
    SpeedLimiter m_limiter;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<AppSettings> m_settings;
    bool m_started = false;
};

// The speed settings of the limiter as the settings store holds them.
SpeedSettings speedSettingsFrom(const AppSettings& settings);

}  // namespace fetchora

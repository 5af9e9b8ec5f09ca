#pragma once
// The application object: builds and owns everything that lives for the whole
// run (the settings store and settings, the job lock, the message loop, the
// speed limiter, the profile and temporary folders) and hands each front end
// what it needs. No singletons: main() builds one and passes references on.
//
// Thread: created, started and stopped on the thread that runs the loop.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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

// The language file the user chose ("kxdeu.ini"; empty for the built-in
// English) as the profile's settings keep it, read without starting the
// application: a start beside another instance, which owns the settings,
// shows its messages in that language too. Nothing when no choice is stored
// or the profile or its settings cannot be read.
std::optional<std::string> storedLanguageChoice(const Environment& environment = processEnvironment());

class Application {
public:
    explicit Application(Environment environment = processEnvironment());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Finds the folders, loads the settings store and the settings and saves
    // them back at once (see saveSettings). False with a message saying what
    // went wrong and what to do.
    bool start(std::string& error);

    // Writes the settings back (only after a successful start): at exit, and
    // through changeSettings. Only values that differ from the ones saved at
    // start (or at the last save) are written, so edits made to the file
    // meanwhile stay unless the same value was changed here too. Per-run overrides are never written (see
    // AppSettings::SetRunOverride).
    bool saveSettings();

    // The front ends' way to change settings for good (an options page
    // accepted, a job's settings saved as default): applies the change, hands
    // the speed figures to the limiter and saves at once.
    bool changeSettings(const std::function<void(AppSettings&)>& change);

    // A speed-mode command: the limiter switches (choosing the current mode
    // does nothing) and the mode is kept in the settings, where it is saved
    // when "Remember" is on.
    void chooseSpeedMode(SpeedMode mode);

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

// The mode the limiter starts in: the remembered "SpeedMode" when "Remember"
// is on, else Unlimited.
SpeedMode startSpeedMode(const AppSettings& settings);

}  // namespace fetchora

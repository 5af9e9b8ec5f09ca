#include "shell/application.h"

#include <clocale>
#include <unistd.h>

#include "config/settings_key.h"
#include "config/settings_values.h"
#include "platform/text_utils.h"
#include "shell/folder_fault_text.h"
#include "shell/front_end_texts.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

std::string programFilePath()
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

// The locale name the settings derive the country and language from, as the
// C library resolves it from LC_ALL, LC_CTYPE and LANG.
std::string localeNameFrom(const Environment& environment)
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        auto value = environment(name);
        if (value && !value->empty())
            return *value;
    }
    return "C";
}

}  // namespace

std::optional<std::string> storedLanguageChoice(const Environment& environment)
{
    const FolderResult profile = fetchora::profileFolder(environment);
    if (!profile)
        return std::nullopt;
    Registry settings(profile.path / kSettingsFileName);
    if (!settings.load())
        return std::nullopt;
    std::optional<std::string> file = settings.readString(Hive::CurrentUser, settingsKey("General"), "LanguageEx");
    if (!file || file->empty())
        return std::nullopt;
    if (equalsIgnoringCase(*file, kBuiltinLanguageFile))
        file->clear();
    return file;
}

Application::Application(Environment environment)
    : m_environment(std::move(environment))
    , m_loop(m_clock)
    , m_limiter(m_clock, &m_connections)
    , m_registry(std::make_unique<Registry>())
{
}

Application::~Application()
{
    stop();
}

bool Application::start(std::string& error)
{
    const FolderCheck profile = checkProfileFolder(m_environment);
    if (!profile.result) {
        error = builtinText(kStrCannotUseProfile, {folderFaultsText(profile)});
        return false;
    }
    m_profileFolder = profile.result.path;

    const FolderCheck temporary = checkTemporaryFolder(m_environment);
    if (!temporary.result) {
        error = builtinText(kStrCannotMakeTemporaryFolder, {folderFaultsText(temporary)});
        return false;
    }
    m_temporaryFolder = temporary.result.path;

    m_registry = std::make_unique<Registry>(m_profileFolder / kSettingsFileName);
    if (!m_registry->load()) {
        error = builtinText(kStrCannotReadSettings, {m_registry->file().string()});
        m_registry = std::make_unique<Registry>();
    }

    SettingsEnvironment environment;
    environment.programFile = programFilePath();
    environment.programFolder = programFolder().string();
    environment.defaultDownloadFolder = downloadFolder(m_environment).string();
    environment.temporaryFolder = m_temporaryFolder.string();
    environment.localeName = localeNameFrom(m_environment);
    m_settings = std::make_unique<AppSettings>(*m_registry, environment);
    m_settings->LoadSettings();
    // Saved at once, so that the file holds every value (defaults and what
    // the load converted) and later saves write only what this run changes:
    // edits made to the file meanwhile are not undone by unchanged values.
    // This is the one write of a start; an unchanged profile is not written.
    m_settings->SaveSettings();
    m_limiter.setSettings(speedSettingsFrom(*m_settings));
    m_limiter.setMode(startSpeedMode(*m_settings));
    m_started = true;
    return error.empty();
}

bool Application::saveSettings()
{
    return m_started && m_settings && m_settings->SaveSettings();
}

bool Application::changeSettings(const std::function<void(AppSettings&)>& change)
{
    if (!m_started || !m_settings)
        return false;
    change(*m_settings);
    m_limiter.setSettings(speedSettingsFrom(*m_settings));
    return saveSettings();
}

void Application::chooseSpeedMode(SpeedMode mode)
{
    m_limiter.setMode(mode);
    if (m_settings && static_cast<int32_t>(mode) != m_settings->speedMode())
        changeSettings([mode](AppSettings& settings) { settings.setSpeedMode(static_cast<int32_t>(mode)); });
}

void Application::stop()
{
    if (!m_temporaryFolder.empty()) {
        removeTemporaryFolder(m_temporaryFolder);
        m_temporaryFolder.clear();
    }
}

SpeedSettings speedSettingsFrom(const AppSettings& settings)
{
    SpeedSettings speed;
    speed.manualLimit = static_cast<uint32_t>(settings.speedLimit());
    speed.perConnection = static_cast<uint32_t>(settings.keepPerConnection());
    speed.bandwidth = static_cast<uint32_t>(settings.connectionBandwidth());
    return speed;
}

SpeedMode startSpeedMode(const AppSettings& settings)
{
    if (settings.GetOption(OptionId::RememberSpeedMode) == 0)
        return SpeedMode::Unlimited;
    const int32_t mode = settings.speedMode();
    return mode >= 0 && mode <= 2 ? static_cast<SpeedMode>(mode) : SpeedMode::Unlimited;
}

}  // namespace fetchora

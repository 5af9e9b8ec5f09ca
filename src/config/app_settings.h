#pragma once
// AppSettings: every user preference in memory, mirrored in the settings
// store under "Software\Korvex\Korvex" (one subkey per section). Other parts
// read and change options through GetOption/GetOptionText/SetOption/
// SetOptionText keyed by OptionId; only this class knows which stored value
// or which bit of a flag word stands behind an identifier.
//
// Per-run values (options given for one run of a front end) are overrides:
// GetOption answers them, while the stored value underneath stays what
// SaveSettings writes. A front end changes settings for good with SetOption
// and friends and then saves; it applies its per-run options with
// SetRunOverride only, so that no save ever makes them permanent.
//
// Thread: loaded, saved and changed on the loop thread. Transfer threads may
// read integer options through GetOption without a lock: each is one aligned
// 32-bit value written only by the loop thread.
// Owns: the values, the proxy list, the site rules and the download rules.
// Borrows: the Registry (owned by the application) and an optional observer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/download_rules.h"
#include "config/option_id.h"
#include "config/proxy_list.h"
#include "config/settings_values.h"
#include "config/site_rules.h"

namespace fetchora {

class Registry;

// What the settings need to know about the machine. The application fills it
// from the platform's path and locale lookups; tests give their own.
struct SettingsEnvironment {
    std::string programFile;            // full path of the running program
    std::string programFolder;          // folder of the program's data; empty: the folder of programFile
    std::string defaultDownloadFolder;  // option 4
    std::string temporaryFolder;        // created at load when missing
    std::string localeName;             // e.g. "de_DE.UTF-8"; decides the country code and language defaults
};

// Side effects of some options that reach beyond the settings. The owner
// connects them to the main window and the schedule.
class SettingsObserver {
public:
    virtual ~SettingsObserver() = default;
    // "SimJobs" changed: the queue should be re-evaluated.
    virtual void simJobsChanged() {}
    // A schedule time changed: the schedule's state goes back to not yet
    // evaluated.
    virtual void scheduleTimesChanged() {}
};

// The drop zone window's stored state ("DropZone" section); the window reads
// it when created and writes it when it moves or changes.
struct DropZoneSettings {
    bool show = true;
    int32_t x = 0;  // default: screen width minus 100
    int32_t y = 30;
    bool transparent = true;
    int32_t opacity = 125;  // 0..255
};

class AppSettings {
public:
    AppSettings(Registry& registry, SettingsEnvironment environment);
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    void setObserver(SettingsObserver* observer) { m_observer = observer; }

    // Reads every value, filling in defaults for what is missing or
    // unreadable, and marks the settings loaded. Always succeeds.
    bool LoadSettings();
    // Writes every value back and flushes the store. Refused (false) until
    // LoadSettings has run, so an early exit never overwrites the stored
    // settings with built-in defaults. False also when the flush failed.
    bool SaveSettings();
    bool loaded() const { return m_loaded; }

    // The value of an integer option: the masked bit (raw, not 0/1) for a
    // flag, the field's value for a multi-bit field; -1 for an unknown id or
    // a text option. Options 513, 83 and 338 read the store each time and so
    // belong to the loop thread.
    int32_t GetOption(OptionId id) const;
    // The text of a text option; empty for an unknown id or an integer option.
    std::string GetOptionText(OptionId id) const;
    // For flags any non-zero value sets the bit. Values outside an option's
    // range are clamped into it; a block size below 10240 is ignored.
    void SetOption(OptionId id, int32_t value);
    void SetOptionText(OptionId id, std::string_view text);

    // A value for this run only (see above); a later SetOption changes the
    // stored value and leaves the override in force. Set before transfers
    // start. False, and nothing changed, for an unknown id and for options
    // kept outside the plain values (proxy defaults, the passive flag,
    // options written to the store at once).
    bool SetRunOverride(OptionId id, int32_t value);
    void ClearRunOverrides()
    {
        m_runOverrides.clear();
        m_runProxy.reset();
    }

    // A proxy for this run only: every job's connections go through it,
    // whatever the defaults, the site rules or the job's own choice say.
    // Never part of the proxy list, so no save stores it. Set before
    // transfers start; the entry stays where it is until cleared.
    void SetRunProxy(const ProxyEntry& proxy) { m_runProxy = proxy; }
    const ProxyEntry* runProxy() const { return m_runProxy ? &*m_runProxy : nullptr; }

    ProxyList& proxies() { return m_proxies; }
    const ProxyList& proxies() const { return m_proxies; }
    SiteRuleList& siteRules() { return m_siteRules; }
    const SiteRuleList& siteRules() const { return m_siteRules; }
    DownloadRuleList& downloadRules() { return m_downloadRules; }
    const DownloadRuleList& downloadRules() const { return m_downloadRules; }

    const SettingsValues& values() const { return m_values; }
    const SettingsEnvironment& environment() const { return m_environment; }
    const std::string& temporaryFolder() const { return m_values.temporaryFolder; }

    // Values without an option id ("Connection" page, speed mode, skin,
    // language file).
    int32_t speedLimit() const { return m_values.speedLimit; }
    void setSpeedLimit(int32_t bytesPerSecond) { m_values.speedLimit = kSpeedLimitRange.clamp(bytesPerSecond); }
    int32_t keepPerConnection() const { return m_values.keep; }
    void setKeepPerConnection(int32_t bytesPerSecond) { m_values.keep = kKeepRange.clamp(bytesPerSecond); }
    int32_t bandWidth() const { return m_values.bandWidth; }
    void setBandWidth(int32_t bytesPerSecond) { m_values.bandWidth = kBandWidthRange.clamp(bytesPerSecond); }
    int32_t connType() const { return m_values.connType; }
    void setConnType(int32_t type);
    // The speed of the connection in bytes per second: the type's figure, or
    // "BandWidth" for the type "Other".
    int32_t connectionBandwidth() const;
    int32_t speedMode() const { return m_values.speedMode; }
    void setSpeedMode(int32_t mode);
    const std::string& skin() const { return m_values.skin; }
    void setSkin(std::string_view file) { m_values.skin = file; }
    const std::string& languageFile() const { return m_values.languageFile; }
    void setLanguageFile(std::string_view file) {
        m_values.languageFile = file;
        m_values.languageChosen = true;
    }
    bool languageChosen() const { return m_values.languageChosen; }

    // The "User-Agent: " header text for the chosen user agent; empty for
    // choice 0 (no header).
    std::string userAgentHeader() const;

    // The country code derived from the locale: the default of "Mirrors" "Code".
    std::string derivedCountryCode() const;
    bool simplifiedChinese() const;
    // Where a sound's default file lives (index 0..3: added, done, failed,
    // all done).
    std::string defaultSoundPath(size_t index) const;

    // "General" values that have no options page and are read where used.
    int32_t hangUpSeconds() const { return readGeneralInt("Hang Up Time", 15, kNonNegativeRange); }
    int32_t shutDownSeconds() const { return readGeneralInt("Shut Down Time", 30, kNonNegativeRange); }
    int32_t closeSeconds() const { return readGeneralInt("Close Time", 15, kNonNegativeRange); }
    bool alwaysShutDown() const { return readGeneralInt("AlwaysShutDown", 0) != 0; }
    int32_t dropZoneActive() const { return readGeneralInt("DZActive", 0); }
    int32_t switchLogin() const { return readGeneralInt("SwitchLogin", 0); }
    bool alwaysRange() const { return readGeneralInt("AlwaysRange", 0) != 0; }
    bool allocDiskPopup() const { return readGeneralInt("allocdiskpop", 1) != 0; }
    int32_t backDate() const { return readGeneralInt("BackDate", 0); }
    void setBackDate(int32_t dateCode);
    int32_t checkDate() const { return readGeneralInt("CheckDate", 0); }
    void setCheckDate(int32_t dateCode);

    // "Update" "Source": the folder URL the update check and the language
    // packs come from; empty (the default) for none.
    std::string updateSource() const { return readText("Update", "Source", ""); }

    DropZoneSettings dropZone(int32_t screenWidth) const;
    // Written and flushed at once.
    void setDropZone(const DropZoneSettings& dropZone);

private:
    static constexpr IntRange kAnyValue{INT32_MIN, INT32_MAX};

    int32_t readInt(std::string_view section, std::string_view name, int32_t defaultValue) const;
    std::string readText(std::string_view section, std::string_view name, std::string_view defaultValue) const;
    int32_t readGeneralInt(std::string_view name, int32_t defaultValue, IntRange range = kAnyValue) const;
    void writeInt(std::string_view section, std::string_view name, int32_t value);
    void writeText(std::string_view section, std::string_view name, std::string_view value);
    void writeGeneralIntNow(std::string_view name, int32_t value);

    void loadGeneralStart();
    void loadConnection();
    void loadDownloadDefault();
    void loadFlagWords();
    void loadMonitorAndDisplay();
    void loadDialUp();
    void loadMirrors();
    void loadScheduleAndRest();

    void saveDownloadDefault();
    void saveConnection();
    void saveGeneralAndProtocol();
    void saveMonitorAndDisplay();
    void saveDialUp();
    void saveMirrorsAndSounds();
    void saveScheduleAndRest();

    bool setSpecialOption(OptionId id, int32_t value);
    void writeMonitorFlagsNow();

    Registry& m_registry;
    SettingsEnvironment m_environment;
    SettingsObserver* m_observer = nullptr;
    SettingsValues m_values;
    ProxyList m_proxies;
    SiteRuleList m_siteRules;
    DownloadRuleList m_downloadRules;
    bool m_loaded = false;
    // Answers of GetOption for this run, by id; never saved.
    std::vector<std::pair<OptionId, int32_t>> m_runOverrides;
    std::optional<ProxyEntry> m_runProxy;
};

}  // namespace fetchora

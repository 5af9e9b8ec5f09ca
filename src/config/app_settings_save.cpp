// The save sequence of AppSettings: every value in the order the settings
// format has always been written. "Max Parallel Num" and "MaxSimJobs" are
// never written; they are limits an administrator sets by hand.
#include "config/app_settings.h"
#include "config/scrambled_password.h"
#include "config/unless_default.h"
#include "platform/registry.h"

namespace fetchora {

bool AppSettings::SaveSettings() {
    if (!m_loaded) {
        return false;
    }
    writeText("General", "Version", kSettingsVersion);
    // An empty value is no choice: the next start lets the locale pick again
    // rather than take the English it fell back to for a choice.
    writeText("General", "LanguageEx",
              !m_values.languageChosen ? std::string_view()
                  : m_values.languageFile.empty() ? kBuiltinLanguageFile
                                                  : std::string_view(m_values.languageFile));
    m_proxies.save(m_registry);
    m_siteRules.save(m_registry);
    m_downloadRules.save(m_registry);
    saveDownloadDefault();
    saveConnection();
    saveGeneralAndProtocol();
    saveMonitorAndDisplay();
    saveDialUp();
    saveMirrorsAndSounds();
    saveScheduleAndRest();
    return m_registry.flush();
}

void AppSettings::saveDownloadDefault() {
    const SettingsValues& v = m_values;
    writeInt("Download default", "Server", v.defaultCategory);
    writeInt("Download default", "Split", v.defaultSplit);
    writeInt("Download default", "Proxy", v.defaultProxySwitch);
    writeInt("Download default", "Start", v.defaultStartMode);
    writeText("Download default", "UserName", v.defaultUserName);
    writeText("Download default", "Password", v.defaultPassword);
    writeText("Download default", "Referer", v.defaultReferer);
    writeText("Download default", "Path", v.defaultPath);
    writeInt("Download default", "Login", v.defaultLogin);
}

void AppSettings::saveConnection() {
    const SettingsValues& v = m_values;
    writeInt("Connection", "CT", v.connectTimeout);
    writeInt("Connection", "DT", v.dataTimeout);
    writeInt("Connection", "WT", v.retryDelay);
    writeInt("Connection", "Retry", v.retryCount);
    writeInt("Connection", "SimJobs", v.simJobs);
    writeInt("Connection", "Speed Limit", v.speedLimit);
    writeInt("Connection", "Keep", v.keep);
    writeInt("Connection", "BandWidth", v.bandWidth);
    writeInt("Connection", "ConnType", v.connType);
}

void AppSettings::saveGeneralAndProtocol() {
    const SettingsValues& v = m_values;
    writeInt("General", "Flags", v.flags);
    writeInt("General", "Flags1", v.flags1);
    writeInt("General", "AutoSaveTime", v.autoSaveTime);
    writeInt("General", "BlockSize", v.blockSize);
    writeInt("General", "BufferSize", v.bufferSize);
    writeInt("General", "Double Click", v.doubleClick);
    writeInt("Procotol", "Flags", v.protocolFlags);
    writeText("Procotol", "AsciiMode", v.asciiModeTypes);
    WriteTextUnlessDefault(m_registry, "Procotol", "EMail", v.anonymousEMail, kDefaultAnonymousEMail);
    writeInt("Procotol", "User-Agent", v.userAgent);
    writeText("Procotol", "User-Agent Text", v.userAgentText);
}

void AppSettings::saveMonitorAndDisplay() {
    const SettingsValues& v = m_values;
    writeInt("General", "Monitor Flags", v.monitorFlags);
    writeText("General", "MonitorType", v.monitorType);
    writeInt("Color", "Scale", v.graphScale);
    writeInt("Color", "State", v.colorState);
    writeInt("Color", "Error", v.colorError);
    writeInt("Color", "Server", v.colorServer);
    writeInt("Color", "Command", v.colorCommand);
    writeInt("Color", "StateBk", v.colorStateBk);
    writeInt("Color", "ErrorBk", v.colorErrorBk);
    writeInt("Color", "ServerBk", v.colorServerBk);
    writeInt("Color", "CommandBk", v.colorCommandBk);
    writeInt("Color", "GraphFore", v.graphFore);
    writeInt("Color", "GraphBack", v.graphBack);
    writeInt("Color", "BlockBack", v.blockBack);
    writeInt("Color", "BlockSize", v.blockMapCellSize);
    writeInt("General", "File Manager", v.fileManager);
    writeText("General", "Virus Scanner", v.virusScanner);
    writeText("General", "Virus Scanner Args", v.virusScannerArgs);
    writeText("General", "Virus Scan Type", v.virusScanTypes);
    WriteTextUnlessDefault(m_registry, "General", "Open Types", v.openTypes, kDefaultOpenTypes);
}

void AppSettings::saveDialUp() {
    const SettingsValues& v = m_values;
    writeInt("DialUp", "Flags", v.dialUpFlags);
    writeText("DialUp", "Entry", v.dialUpEntry);
    writeText("DialUp", "UserName", v.dialUpUserName);
    WriteScrambled(m_registry, "DialUp", "New", v.dialUpPassword);
    writeInt("DialUp", "Retry", v.dialUpRetry);
    writeInt("DialUp", "WT", v.dialUpWait);
    writeText("DialUp", "Title", v.dialUpTitle);
}

void AppSettings::saveMirrorsAndSounds() {
    const SettingsValues& v = m_values;
    writeInt("General", "FtpSearchMinSize", v.ftpSearchMinSize);
    writeInt("General", "FtpSearchMaxHit", v.ftpSearchMaxHit);
    WriteTextUnlessDefault(m_registry, "Mirrors", "Code", v.mirrorCode, derivedCountryCode());
    writeText("Mirrors", "List", v.mirrorList);
    WriteTextUnlessDefault(m_registry, "Mirrors", "Server", v.mirrorServer, kDefaultMirrorSearchTemplate);
    for (size_t i = 0; i < v.sounds.size(); ++i) {
        writeText("Sounds", "Sound" + std::to_string(i), v.sounds[i].empty() ? kNoSound : std::string_view(v.sounds[i]));
    }
}

void AppSettings::saveScheduleAndRest() {
    const SettingsValues& v = m_values;
    writeInt("General", "Schedule flags", v.scheduleFlags);
    writeInt("General", "Schedule Start Time", v.scheduleStartTime);
    writeInt("General", "Schedule Stop Time", v.scheduleStopTime);
    WriteTextUnlessDefault(m_registry, "Site Explore", "Types", v.exploreTypes, kDefaultExploreTypes);
    writeText("Site Explore", "Command", v.exploreCommand);
    writeInt("Site Explore", "Retry", v.exploreRetry);
    WriteTextUnlessDefault(m_registry, "General", "Skin", v.skin, "");
    if ((static_cast<uint32_t>(v.flags) & kFlagsRememberSpeedMode) != 0) {
        WriteIntUnlessDefault(m_registry, "General", "SpeedMode", v.speedMode, 0);
    }
}

}  // namespace fetchora

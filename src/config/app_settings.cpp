#include "config/app_settings.h"

#include <algorithm>
#include <utility>

#include "config/mirror_country.h"
#include "config/settings_key.h"
#include "lang/string_table.h"
#include "platform/registry.h"

namespace fetchora {

AppSettings::AppSettings(Registry& registry, SettingsEnvironment environment)
    : m_registry(registry), m_environment(std::move(environment)) {
    if (m_environment.programFolder.empty()) {
        const size_t slash = m_environment.programFile.rfind('/');
        if (slash != std::string::npos) {
            m_environment.programFolder = m_environment.programFile.substr(0, slash);
        }
    }
    m_values.programFolder = m_environment.programFolder;
    m_values.defaultDownloadFolder = m_environment.defaultDownloadFolder;
    m_values.temporaryFolder = m_environment.temporaryFolder;
    m_values.flags1 = simplifiedChinese() ? kDefaultFlags1Chinese : kDefaultFlags1;
    m_values.dialUpTitle = builtinString(kDialUpTitleString);
    m_values.mirrorCode = derivedCountryCode();
    for (size_t i = 0; i < m_values.sounds.size(); ++i) {
        m_values.sounds[i] = defaultSoundPath(i);
    }
}

bool AppSettings::simplifiedChinese() const {
    return isSimplifiedChineseLocale(m_environment.localeName);
}

std::string AppSettings::derivedCountryCode() const {
    return MirrorCountryCode(m_environment.localeName);
}

std::string AppSettings::defaultSoundPath(size_t index) const {
    std::string path = m_values.programFolder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += "sounds/";
    path += kSoundFiles.at(index);
    return path;
}

void AppSettings::setConnType(int32_t type) {
    if (kConnTypeRange.contains(type)) {
        m_values.connType = type;
    }
}

int32_t AppSettings::connectionBandwidth() const {
    if (m_values.connType >= 0 && m_values.connType < kConnTypeOther) {
        return kConnTypeBandwidth[static_cast<size_t>(m_values.connType)];
    }
    return m_values.bandWidth;
}

void AppSettings::setSpeedMode(int32_t mode) {
    if (kSpeedModeRange.contains(mode)) {
        m_values.speedMode = mode;
    }
}

std::string AppSettings::userAgentHeader() const {
    switch (m_values.userAgent & 0xFF) {
        case 0: return {};
        case 1: return "Fetchora";
        case 2: return "Mozilla/2.0 (compatible; MSIE 3.02; Windows 95)";
        case 3: return "Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)";
        case 4: return "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
        case 5: return "Mozilla/3.04 (Win98; I))";
        case 6: return "Mozilla/4.05 [en] (Win98; I))";
        default: return m_values.userAgentText;
    }
}

int32_t AppSettings::readInt(std::string_view section, std::string_view name, int32_t defaultValue) const {
    const auto value = m_registry.readDword(Hive::CurrentUser, settingsKey(section), name);
    return value ? static_cast<int32_t>(*value) : defaultValue;
}

std::string AppSettings::readText(std::string_view section, std::string_view name,
                                  std::string_view defaultValue) const {
    auto value = m_registry.readString(Hive::CurrentUser, settingsKey(section), name);
    return value ? std::move(*value) : std::string(defaultValue);
}

int32_t AppSettings::readGeneralInt(std::string_view name, int32_t defaultValue, IntRange range) const {
    return range.clamp(readInt("General", name, defaultValue));
}

void AppSettings::writeInt(std::string_view section, std::string_view name, int32_t value) {
    m_registry.writeDword(Hive::CurrentUser, settingsKey(section), name, static_cast<uint32_t>(value));
}

void AppSettings::writeText(std::string_view section, std::string_view name, std::string_view value) {
    m_registry.writeString(Hive::CurrentUser, settingsKey(section), name, value);
}

void AppSettings::writeGeneralIntNow(std::string_view name, int32_t value) {
    writeInt("General", name, value);
    m_registry.flush();
}

void AppSettings::setBackDate(int32_t dateCode) {
    writeGeneralIntNow("BackDate", dateCode);
}

void AppSettings::setCheckDate(int32_t dateCode) {
    writeGeneralIntNow("CheckDate", dateCode);
}

DropZoneSettings AppSettings::dropZone(int32_t screenWidth) const {
    DropZoneSettings zone;
    zone.show = readInt("DropZone", "Show", 1) != 0;
    zone.x = readInt("DropZone", "Sx", screenWidth - 100);
    zone.y = readInt("DropZone", "Sy", 30);
    zone.transparent = readInt("DropZone", "Transparent", 1) != 0;
    zone.opacity = std::clamp(readInt("DropZone", "TValue", 125), 0, 255);
    return zone;
}

void AppSettings::setDropZone(const DropZoneSettings& zone) {
    writeInt("DropZone", "Show", zone.show ? 1 : 0);
    writeInt("DropZone", "Sx", zone.x);
    writeInt("DropZone", "Sy", zone.y);
    writeInt("DropZone", "Transparent", zone.transparent ? 1 : 0);
    writeInt("DropZone", "TValue", std::clamp(zone.opacity, 0, 255));
    m_registry.flush();
}

}  // namespace fetchora

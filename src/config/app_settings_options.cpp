// The option accessors of AppSettings: which value or which bits of a flag
// word stand behind each OptionId.
#include <algorithm>
#include <array>
#include <optional>

#include "config/app_settings.h"
#include "config/settings_key.h"
#include "config/unless_default.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

enum class Kind {
    Value,  // the whole value, held to a range
    Bit,    // one bit; any non-zero value sets it, reads give the raw masked bit
    Field,  // a multi-bit field, read and written as a small number
};

struct IntOption {
    OptionId id;
    int32_t SettingsValues::*field;
    Kind kind;
    uint32_t mask;
    IntRange range;
};

constexpr IntRange kAny{INT32_MIN, INT32_MAX};

constexpr IntOption value(OptionId id, int32_t SettingsValues::*field, IntRange range = kAny) {
    return {id, field, Kind::Value, 0xFFFFFFFFu, range};
}
constexpr IntOption bit(OptionId id, int32_t SettingsValues::*field, uint32_t mask) {
    return {id, field, Kind::Bit, mask, kAny};
}
constexpr IntOption bits(OptionId id, int32_t SettingsValues::*field, uint32_t mask) {
    return {id, field, Kind::Field, mask, kAny};
}

using V = SettingsValues;
using O = OptionId;

// Options with side effects or a home outside SettingsValues are handled in
// AppSettings::setSpecialOption and GetOption before this table is consulted.
constexpr std::array kIntOptions = {
    value(O::MaxParallelNum, &V::maxParallelNum, kMaxParallelNumRange),
    value(O::MaxSimJobs, &V::maxSimJobs, kMaxSimJobsRange),
    bit(O::FindAlternateUrlsForNewJobs, &V::flags1, 0x100),
    bit(O::DefaultJobSwitch10, &V::defaultLogin, 0x10),
    bit(O::DefaultJobSwitch20, &V::defaultLogin, 0x20),
    bit(O::DefaultJobSwitch40, &V::defaultLogin, 0x40),
    bit(O::UseDefaultProxies, &V::flags, 0x4000),
    value(O::DefaultSplit, &V::defaultSplit),
    value(O::DefaultCategory, &V::defaultCategory),
    bits(O::DefaultLogin, &V::defaultLogin, 0xF),
    value(O::DefaultProxySwitch, &V::defaultProxySwitch),
    value(O::DefaultStartMode, &V::defaultStartMode),
    bit(O::AlwaysRetry, &V::flags, 0x1000),
    value(O::ConnectTimeout, &V::connectTimeout, kTimeoutRange),
    value(O::DataTimeout, &V::dataTimeout, kTimeoutRange),
    value(O::RetryCount, &V::retryCount, kRetryCountRange),
    value(O::SimJobs, &V::simJobs),
    value(O::RetryDelay, &V::retryDelay, kRetryDelayRange),
    bit(O::RememberSpeedMode, &V::flags, 0x800),
    bit(O::StartHidden, &V::flags, 0x1),
    bit(O::SkipNonResumable, &V::flags, 0x2),
    bit(O::MoveLogWithFile, &V::flags, 0x1000000),
    bit(O::StopOnError, &V::flags, 0x4),
    value(O::AutoSaveTime, &V::autoSaveTime, kAutoSaveTimeRange),
    bit(O::AutoSave, &V::flags, 0x10),
    bit(O::FileTimeFromServer, &V::flags, 0x100),
    bit(O::StartDownloadingAtLaunch, &V::flags, 0x200),
    bit(O::UnfinishedExtension, &V::flags, 0x400),
    bit(O::SizesInBytes, &V::flags, 0x2000),
    bit(O::DailyBackup, &V::flags1, 0x1),
    bit(O::Flags1Switch8, &V::flags1, 0x8),
    bit(O::SeparateLogFile, &V::flags, 0x20000),
    value(O::BlockSize, &V::blockSize, kBlockSizeRange),
    bit(O::SortSubCategories, &V::flags, 0x40000),
    bits(O::UserAgentChoice, &V::userAgent, 0xFF),
    bit(O::SendCookies, &V::flags1, 0x2),
    bit(O::NoReferer, &V::userAgent, 0x100),
    bit(O::ReuseFtpConnections, &V::flags1, 0x100000),
    bit(O::StopAfterFruitlessTries, &V::flags1, 0x200),
    bit(O::WriteEveryBufferSize, &V::flags1, 0x10000),
    value(O::BufferSize, &V::bufferSize, kBufferSizeRange),
    value(O::MonitorFlags, &V::monitorFlags),
    bit(O::WatchClipboard, &V::monitorFlags, 0x1),
    bit(O::PortableStorage, &V::flags, 0x10000),
    bits(O::PortableDeviceIndex, &V::fileManager, 0xFF000),
    bit(O::VirusScan, &V::fileManager, 0x80000000u),
    bits(O::MoveDownloaded, &V::fileManager, 0xF),
    bit(O::DeleteDownloadedFile, &V::fileManager, 0x20),
    bits(O::ExistingFileAction, &V::fileManager, 0xF00),
    bits(O::DoubleClickRunning, &V::doubleClick, 0x3),
    bits(O::DoubleClickDownloaded, &V::doubleClick, 0xC),
    bits(O::DoubleClickFailed, &V::doubleClick, 0x30),
    value(O::ColorState, &V::colorState),
    value(O::ColorError, &V::colorError),
    value(O::ColorCommand, &V::colorCommand),
    value(O::ColorServer, &V::colorServer),
    value(O::ColorStateBk, &V::colorStateBk),
    value(O::ColorErrorBk, &V::colorErrorBk),
    value(O::ColorCommandBk, &V::colorCommandBk),
    value(O::ColorServerBk, &V::colorServerBk),
    value(O::GraphScale, &V::graphScale, kPositiveRange),
    value(O::GraphFore, &V::graphFore),
    value(O::GraphBack, &V::graphBack),
    bit(O::DropZoneGraph, &V::flags1, 0x4),
    value(O::BlockMapCellSize, &V::blockMapCellSize, kPositiveRange),
    value(O::BlockBack, &V::blockBack),
    bit(O::Redial, &V::dialUpFlags, 0x1),
    bit(O::HangUpWhenDone, &V::dialUpFlags, 0x2),
    value(O::DialUpRetry, &V::dialUpRetry, kDialUpRetryRange),
    value(O::DialUpWait, &V::dialUpWait, kDialUpWaitRange),
    bit(O::ShutDownWhenDone, &V::dialUpFlags, 0x4),
    bit(O::CloseWhenDone, &V::dialUpFlags, 0x8),
    value(O::ScheduleFlags, &V::scheduleFlags),
    value(O::ScheduleStartTime, &V::scheduleStartTime),
    value(O::ScheduleStopTime, &V::scheduleStopTime),
    bit(O::GridLines, &V::dialUpFlags, 0x10),
    bit(O::PlaySounds, &V::flags, 0x80),
    bit(O::OldSoundSwitch, &V::flags, 0x8000),
    bit(O::PlayDoneSound, &V::flags, 0x100000),
    bit(O::PlayFailedSound, &V::flags, 0x200000),
    bit(O::PlayAllDoneSound, &V::flags, 0x400000),
    bit(O::MirrorSearch, &V::flags1, 0x10),
    bit(O::FtpSearch, &V::flags1, 0x20),
    bit(O::AutoSelectMirror, &V::flags1, 0x40),
    value(O::FtpSearchMinSize, &V::ftpSearchMinSize, kFtpSearchMinSizeRange),
    value(O::FtpSearchMaxHit, &V::ftpSearchMaxHit, kFtpSearchMaxHitRange),
    bit(O::AutoAlternateUrls, &V::flags1, 0x80),
    bit(O::UrlSharingService, &V::flags, 0x2000000),
    bit(O::ShareUrls, &V::flags1, 0x80000),
    bit(O::OpenWhenDone, &V::flags, 0x80000),
    bit(O::DeleteUnfinishedFile, &V::fileManager, 0x10),
    bit(O::ExplorerSwitch, &V::flags1, 0x8000),
    value(O::ExploreRetry, &V::exploreRetry, kNonNegativeRange),
    bit(O::HideWhenMinimized, &V::flags1, 0x400),
    bit(O::MoveToBottomAfterRetries, &V::flags1, 0x20000),
    bit(O::AllocateDiskSpace, &V::flags1, 0x40000),
    bit(O::RememberLastCategory, &V::flags, 0x800000),
    bit(O::ConfirmDrop, &V::flags, 0x8),
    bit(O::RemoveWhenComplete, &V::dialUpFlags, 0x20),
    bit(O::DuplicateUseNewSettings, &V::dialUpFlags, 0x40),
    bit(O::ConfirmExitToolWindows, &V::flags1, 0x800),
    bit(O::ConfirmExitDownloading, &V::flags1, 0x1000),
    bit(O::ConfirmContextMenuUrl, &V::flags1, 0x2000),
    bit(O::ConfirmBatchUrls, &V::flags1, 0x4000),
};

struct TextOption {
    OptionId id;
    std::string SettingsValues::*field;
};

constexpr std::array kTextOptions = {
    TextOption{O::ProgramFolder, &V::programFolder},
    TextOption{O::DefaultDownloadFolder, &V::defaultDownloadFolder},
    TextOption{O::DefaultUserName, &V::defaultUserName},
    TextOption{O::DefaultPassword, &V::defaultPassword},
    TextOption{O::DefaultReferer, &V::defaultReferer},
    TextOption{O::DefaultPath, &V::defaultPath},
    TextOption{O::AsciiModeTypes, &V::asciiModeTypes},
    TextOption{O::UserAgentText, &V::userAgentText},
    TextOption{O::AnonymousEMail, &V::anonymousEMail},
    TextOption{O::MonitorType, &V::monitorType},
    TextOption{O::VirusScanTypes, &V::virusScanTypes},
    TextOption{O::VirusScanner, &V::virusScanner},
    TextOption{O::VirusScannerArgs, &V::virusScannerArgs},
    TextOption{O::DialUpEntry, &V::dialUpEntry},
    TextOption{O::DialUpUserName, &V::dialUpUserName},
    TextOption{O::DialUpPassword, &V::dialUpPassword},
    TextOption{O::DialUpTitle, &V::dialUpTitle},
    TextOption{O::MirrorCountryCode, &V::mirrorCode},
    TextOption{O::MirrorCountryList, &V::mirrorList},
    TextOption{O::MirrorSearchServer, &V::mirrorServer},
    TextOption{O::OpenTypes, &V::openTypes},
    TextOption{O::ExploreTypes, &V::exploreTypes},
    TextOption{O::ExploreCommand, &V::exploreCommand},
};

constexpr OptionId kFirstSound = O::SoundAdded;
constexpr size_t kSoundCount = 4;

const IntOption* findIntOption(OptionId id) {
    const auto it = std::find_if(kIntOptions.begin(), kIntOptions.end(), [id](const IntOption& o) { return o.id == id; });
    return it == kIntOptions.end() ? nullptr : &*it;
}

const TextOption* findTextOption(OptionId id) {
    const auto it =
        std::find_if(kTextOptions.begin(), kTextOptions.end(), [id](const TextOption& o) { return o.id == id; });
    return it == kTextOptions.end() ? nullptr : &*it;
}

std::optional<size_t> soundIndex(OptionId id) {
    const int32_t offset = static_cast<int32_t>(id) - static_cast<int32_t>(kFirstSound);
    if (offset < 0 || offset >= static_cast<int32_t>(kSoundCount)) {
        return std::nullopt;
    }
    return static_cast<size_t>(offset);
}

int lowestBit(uint32_t mask) {
    int shift = 0;
    while (((mask >> shift) & 1u) == 0) {
        ++shift;
    }
    return shift;
}

int32_t readOption(const IntOption& option, const SettingsValues& values) {
    const uint32_t stored = static_cast<uint32_t>(values.*option.field);
    switch (option.kind) {
        case Kind::Value: return values.*option.field;
        case Kind::Bit: return static_cast<int32_t>(stored & option.mask);
        case Kind::Field: return static_cast<int32_t>((stored & option.mask) >> lowestBit(option.mask));
    }
    return -1;
}

void writeOption(const IntOption& option, SettingsValues& values, int32_t value) {
    int32_t& target = values.*option.field;
    const uint32_t stored = static_cast<uint32_t>(target);
    switch (option.kind) {
        case Kind::Value: target = option.range.clamp(value); break;
        case Kind::Bit:
            target = static_cast<int32_t>(value != 0 ? (stored | option.mask) : (stored & ~option.mask));
            break;
        case Kind::Field: {
            const uint32_t field = (static_cast<uint32_t>(value) << lowestBit(option.mask)) & option.mask;
            target = static_cast<int32_t>((stored & ~option.mask) | field);
            break;
        }
    }
}

int16_t low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF));
}

}  // namespace

int32_t AppSettings::GetOption(OptionId id) const {
    switch (id) {
        case O::StreamProxyDefault: return m_proxies.defaultIndex(ProxyDefault::Stream);
        case O::ProxyRollback: return m_proxies.rollback();
        case O::HttpProxyDefault: return m_proxies.defaultIndex(ProxyDefault::Http);
        case O::FtpProxyDefault: return m_proxies.defaultIndex(ProxyDefault::Ftp);
        case O::FtpPassive: {
            const ProxyEntry* direct = m_proxies.ProxyAt(0);
            return direct != nullptr ? static_cast<int32_t>(direct->flags & kProxyPassive) : 0;
        }
        case O::CloseBoxExits: return readInt("General", "Scexit", 0);
        default: break;
    }
    for (const auto& [overridden, value] : m_runOverrides) {
        if (overridden == id) {
            return value;
        }
    }
    const IntOption* option = findIntOption(id);
    return option != nullptr ? readOption(*option, m_values) : -1;
}

bool AppSettings::SetRunOverride(OptionId id, int32_t value) {
    switch (id) {
        case O::MonitorFlags:
        case O::WatchClipboard:
        case O::CloseBoxExits: return false;
        default: break;
    }
    const IntOption* option = findIntOption(id);
    if (option == nullptr) {
        return false;
    }
    // The answer SetOption would give, worked out on a copy so that the
    // stored values stay untouched.
    SettingsValues scratch = m_values;
    if (id == O::SimJobs) {
        value = std::clamp(value, 1, scratch.maxSimJobs);
    } else if (id == O::DefaultSplit) {
        value = std::clamp(value, 1, scratch.maxParallelNum);
    }
    writeOption(*option, scratch, value);
    const int32_t answer = readOption(*option, scratch);
    std::erase_if(m_runOverrides, [id](const auto& entry) { return entry.first == id; });
    m_runOverrides.emplace_back(id, answer);
    return true;
}

void AppSettings::SetOption(OptionId id, int32_t value) {
    if (setSpecialOption(id, value)) {
        return;
    }
    if (const IntOption* option = findIntOption(id)) {
        writeOption(*option, m_values, value);
    }
}

// Options whose store lies outside SettingsValues, whose range depends on
// another value, or that reach beyond the settings. True when handled.
bool AppSettings::setSpecialOption(OptionId id, int32_t value) {
    SettingsValues& v = m_values;
    switch (id) {
        case O::StreamProxyDefault: m_proxies.setDefaultIndex(ProxyDefault::Stream, value); return true;
        case O::ProxyRollback: m_proxies.setRollback(value); return true;
        case O::HttpProxyDefault: m_proxies.setDefaultIndex(ProxyDefault::Http, value); return true;
        case O::FtpProxyDefault: m_proxies.setDefaultIndex(ProxyDefault::Ftp, value); return true;
        case O::FtpPassive: {
            const uint32_t flags = static_cast<uint32_t>(v.protocolFlags);
            v.protocolFlags =
                static_cast<int32_t>(value != 0 ? (flags | kProtocolOldPassive) : (flags & ~kProtocolOldPassive));
            return true;
        }
        case O::DefaultSplit: v.defaultSplit = std::clamp(value, 1, v.maxParallelNum); return true;
        case O::DefaultProxySwitch: v.defaultProxySwitch = low16(value); return true;
        case O::DefaultStartMode:
            if (kStartModeRange.contains(value)) {
                v.defaultStartMode = value;
            }
            return true;
        case O::SimJobs: {
            const int32_t simJobs = std::clamp(value, 1, v.maxSimJobs);
            const bool changed = simJobs != v.simJobs;
            v.simJobs = simJobs;
            if (changed && m_observer != nullptr) {
                m_observer->simJobsChanged();
            }
            return true;
        }
        case O::BlockSize:
            if (value >= kBlockSizeRange.min) {
                v.blockSize = kBlockSizeRange.clamp(value);
            }
            return true;
        case O::MonitorFlags: v.monitorFlags = value; writeMonitorFlagsNow(); return true;
        case O::WatchClipboard: {
            const uint32_t flags = static_cast<uint32_t>(v.monitorFlags);
            v.monitorFlags = static_cast<int32_t>(value != 0 ? (flags | 0x1u) : (flags & ~0x1u));
            writeMonitorFlagsNow();
            return true;
        }
        case O::ScheduleStartTime:
        case O::ScheduleStopTime:
            (id == O::ScheduleStartTime ? v.scheduleStartTime : v.scheduleStopTime) = value;
            if (m_observer != nullptr) {
                m_observer->scheduleTimesChanged();
            }
            return true;
        case O::CloseBoxExits:
            WriteIntUnlessDefault(m_registry, "General", "Scexit", value, 0);
            m_registry.flush();
            return true;
        default: return false;
    }
}

void AppSettings::writeMonitorFlagsNow() {
    writeInt("General", "Monitor Flags", m_values.monitorFlags);
    m_registry.flush();
}

std::string AppSettings::GetOptionText(OptionId id) const {
    switch (id) {
        case O::MarkTypes: return readText("General", "MarkTypes", "");
        case O::ExploreFilter: return readText("Site Explore", "Filter", "");
        default: break;
    }
    if (const auto sound = soundIndex(id)) {
        return m_values.sounds[*sound];
    }
    const TextOption* option = findTextOption(id);
    return option != nullptr ? m_values.*option->field : std::string();
}

void AppSettings::SetOptionText(OptionId id, std::string_view text) {
    switch (id) {
        case O::MarkTypes:
            WriteTextUnlessDefault(m_registry, "General", "MarkTypes", text, "");
            m_registry.flush();
            return;
        case O::ExploreFilter:
            WriteTextUnlessDefault(m_registry, "Site Explore", "Filter", text, "");
            m_registry.flush();
            return;
        default: break;
    }
    if (const auto sound = soundIndex(id)) {
        // A blank (the stored form of "no sound") also means no sound here.
        m_values.sounds[*sound] = text == kNoSound ? std::string() : std::string(text);
        return;
    }
    if (const TextOption* option = findTextOption(id)) {
        m_values.*option->field = text;
    }
}

}  // namespace fetchora

#pragma once
// Shared set-up of the settings tests: a memory-only store and a fixed
// machine description, so that no test depends on the host's locale or home.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "config/app_settings.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace fetchora::test {

inline constexpr std::string_view kRoot = "Software\\Korvex\\Korvex";

inline std::string sectionKey(std::string_view section) {
    return std::string(kRoot) + "\\" + std::string(section);
}

// Settings read from the store at construction, as at a program start.
class LoadedSettings : public AppSettings {
public:
    LoadedSettings(Registry& registry, SettingsEnvironment environment)
        : AppSettings(registry, std::move(environment)) {
        LoadSettings();
    }
};

class SettingsTest : public ::testing::Test {
protected:
    SettingsEnvironment environment(std::string locale = "de_DE.UTF-8") const {
        return {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", "/home/user/Downloads",
                (m_dir / "fetchora-tmp").string(), std::move(locale)};
    }

    std::optional<uint32_t> dword(std::string_view section, std::string_view name) const {
        return m_registry.readDword(Hive::CurrentUser, sectionKey(section), name);
    }
    std::optional<std::string> text(std::string_view section, std::string_view name) const {
        return m_registry.readString(Hive::CurrentUser, sectionKey(section), name);
    }
    bool present(std::string_view section, std::string_view name) const {
        return m_registry.read(Hive::CurrentUser, sectionKey(section), name).has_value();
    }
    void putDword(std::string_view section, std::string_view name, uint32_t value) {
        m_registry.writeDword(Hive::CurrentUser, sectionKey(section), name, value);
    }
    void putText(std::string_view section, std::string_view name, std::string_view value) {
        m_registry.writeString(Hive::CurrentUser, sectionKey(section), name, value);
    }

    TempDir m_dir;
    Registry m_registry;
};

}  // namespace fetchora::test

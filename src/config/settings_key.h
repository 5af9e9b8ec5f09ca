#pragma once
// Where a settings section lives: a subkey of the settings root below
// HKEY_CURRENT_USER.
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace fetchora {

inline std::string settingsKey(std::string_view section) {
    std::string key(kSettingsRoot);
    if (!section.empty()) {
        key += '\\';
        key += section;
    }
    return key;
}

}  // namespace fetchora

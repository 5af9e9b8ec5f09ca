#include "shell/explorer_commands.h"

#include <algorithm>
#include <string_view>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "config/settings_key.h"
#include "config/settings_values.h"
#include "explorer/explorer_history.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

constexpr std::string_view kFilterModeValue = "Mode";

std::string_view trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<ViewCommand> ExplorerForwardedCommand(uint32_t id)
{
    switch (id) {
    // F2 is the main window's "Site Explorer": another explorer window.
    case static_cast<uint32_t>(ViewCommand::SiteExplorer):
    case static_cast<uint32_t>(ViewCommand::Find):
    case static_cast<uint32_t>(ViewCommand::FindNext):
    case static_cast<uint32_t>(ViewCommand::ShutDownWhenDone):
    case static_cast<uint32_t>(ViewCommand::HangUpWhenDone):
    case static_cast<uint32_t>(ViewCommand::RedialIfDisconnected):
    case static_cast<uint32_t>(ViewCommand::Options): return static_cast<ViewCommand>(id);
    default: return std::nullopt;
    }
}

bool ExplorerCommandAvailable(uint32_t id)
{
    return id != kExplorerConnectCommand && id != kExplorerSpeedLimitCommand;
}

std::optional<bool> ExplorerCommandChecked(const AppSettings& settings, uint32_t id)
{
    switch (id) {
    case static_cast<uint32_t>(ViewCommand::ShutDownWhenDone):
        return settings.GetOption(OptionId::ShutDownWhenDone) > 0;
    case static_cast<uint32_t>(ViewCommand::HangUpWhenDone): return settings.GetOption(OptionId::HangUpWhenDone) > 0;
    case static_cast<uint32_t>(ViewCommand::RedialIfDisconnected): return settings.GetOption(OptionId::Redial) > 0;
    default: return std::nullopt;
    }
}

ExplorerOptions ReadExplorerOptions(const AppSettings& settings)
{
    return {settings.GetOptionText(OptionId::ExploreTypes), settings.GetOption(OptionId::ExploreRetry)};
}

ExplorerOptions NormalizedExplorerOptions(ExplorerOptions options)
{
    std::string types;
    std::string_view rest = options.pageTypes;
    while (!rest.empty()) {
        const size_t semicolon = rest.find(';');
        const std::string_view pattern = trimmed(rest.substr(0, semicolon));
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        if (pattern.empty())
            continue;
        if (!types.empty())
            types += ';';
        types += pattern;
    }
    options.pageTypes = types.empty() ? std::string(kDefaultExploreTypes) : types;
    options.retries = std::clamp(options.retries, 0, kMaxExplorerRetries);
    return options;
}

void WriteExplorerOptions(AppSettings& settings, const ExplorerOptions& options)
{
    const ExplorerOptions normal = NormalizedExplorerOptions(options);
    settings.SetOptionText(OptionId::ExploreTypes, normal.pageTypes);
    settings.SetOption(OptionId::ExploreRetry, normal.retries);
}

ExplorerFilterMode LoadExplorerFilterMode(const Registry& registry)
{
    const std::optional<uint32_t> mode
        = registry.readDword(Hive::CurrentUser, settingsKey(kExplorerFilterSection), kFilterModeValue);
    if (mode == 1u)
        return ExplorerFilterMode::ShowOnly;
    if (mode == 2u)
        return ExplorerFilterMode::ShowAllExcept;
    return ExplorerFilterMode::None;
}

void SaveExplorerFilterMode(Registry& registry, ExplorerFilterMode mode)
{
    const uint32_t value = mode == ExplorerFilterMode::ShowOnly ? 1u
        : mode == ExplorerFilterMode::ShowAllExcept             ? 2u
                                                                : 0u;
    registry.writeDword(Hive::CurrentUser, settingsKey(kExplorerFilterSection), kFilterModeValue, value);
}

}  // namespace fetchora

#pragma once
// An explorer window's commands that are not its own business: the keys and
// entries that act as in the main window, those that cannot work on this
// system, the settings of its options dialog and the stored filter.
//
// Thread: the GUI thread. Pure except for the settings and registry helpers,
// which borrow what they are given.
#include <cstdint>
#include <optional>
#include <string>

#include "explorer/explorer_entries.h"
#include "shell/view_command.h"

namespace fetchora {

class AppSettings;
class Registry;

inline constexpr uint32_t kExplorerConnectCommand = 32848;  // "&Connect/Disconnect"
inline constexpr uint32_t kExplorerSpeedLimitCommand = 32812;  // Alt+L
inline constexpr uint32_t kExplorerOptionsCommand = 32884;  // "Site &Explorer Options..."
inline constexpr uint32_t kExplorerAboutCommand = 57664;

// The main view's command that an explorer command id (its menu entry or
// key) runs; nothing for the window's own commands and for ids that run
// nothing here.
std::optional<ViewCommand> ExplorerForwardedCommand(uint32_t id);

// Whether the command can work on this system: there is no dial-up to
// connect or drop, and no switch for the bandwidth speed limit, so those
// entries show disabled.
bool ExplorerCommandAvailable(uint32_t id);

// The check mark of a forwarded switch ("Shut Down When Done" and its
// neighbours) as the settings hold it; nothing for other commands.
std::optional<bool> ExplorerCommandChecked(const AppSettings& settings, uint32_t id);

// What "Site Explorer Options" edits.
struct ExplorerOptions {
    std::string pageTypes;  // "Site Explore" "Types": read as pages beside the built-in types
    int32_t retries = 5;  // "Site Explore" "Retry"
};

inline constexpr int32_t kMaxExplorerRetries = 99;

ExplorerOptions ReadExplorerOptions(const AppSettings& settings);
// Blanks trimmed around the text and each of its patterns, empty patterns
// dropped; no types left gives the default list; retries kept in 0..99.
ExplorerOptions NormalizedExplorerOptions(ExplorerOptions options);
// Stores the normalized options.
void WriteExplorerOptions(AppSettings& settings, const ExplorerOptions& options);

// The active filter's mode, kept as "Mode" in the "Explorer Filter" section
// (0 none, 1 show only, 2 show all except) beside the pattern history; the
// patterns themselves are the "Filter" setting.
ExplorerFilterMode LoadExplorerFilterMode(const Registry& registry);
void SaveExplorerFilterMode(Registry& registry, ExplorerFilterMode mode);

}  // namespace fetchora

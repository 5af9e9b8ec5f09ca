#pragma once
// The options of one download run that stand in for settings (-x, --retry,
// --timeout): applied as the settings' per-run overrides, which no save
// writes, so the settings file keeps what the user configured.
//
// Thread: the loop thread, before any job starts.
#include "cli/cli_options.h"

namespace fetchora {

class AppSettings;

void applyRunSettings(const CliOptions& options, AppSettings& settings);

}  // namespace fetchora

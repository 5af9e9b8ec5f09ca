#pragma once
// The options of one download run that stand in for settings (-x, --retry,
// --timeout): applied to the loaded settings in memory only. fetchora-cli's
// download mode never saves the settings, so the settings file keeps what the
// user configured.
//
// Thread: the loop thread, before any job starts.
#include "cli/cli_options.h"

namespace fetchora {

class AppSettings;

void applyRunSettings(const CliOptions& options, AppSettings& settings);

}  // namespace fetchora

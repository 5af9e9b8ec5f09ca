#include "cli/run_settings.h"

#include "config/app_settings.h"

namespace fetchora {

void applyRunSettings(const CliOptions& options, AppSettings& settings)
{
    // Overrides only: the settings are saved at exit, and none of these may
    // end up in the file.
    if (options.proxy)
        settings.SetRunProxy(*options.proxy);
    if (options.retries) {
        // A count the user gives is a limit: unlimited retrying is off.
        settings.SetRunOverride(OptionId::AlwaysRetry, 0);
        settings.SetRunOverride(OptionId::RetryCount, *options.retries);
    }
    if (options.timeout) {
        settings.SetRunOverride(OptionId::ConnectTimeout, *options.timeout);
        settings.SetRunOverride(OptionId::DataTimeout, *options.timeout);
    }
}

}  // namespace fetchora

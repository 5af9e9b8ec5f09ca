#include "support/profile_settings.h"

#include "config/app_settings.h"
#include "platform/registry.h"
#include "shell/application.h"

namespace fetchora::test {

testing::AssertionResult changeProfileSettings(const std::filesystem::path& home, const std::filesystem::path& scratch,
                                               const std::function<void(AppSettings&)>& change)
{
    Registry registry(home / kSettingsFileName);
    if (!registry.load())
        return testing::AssertionFailure() << "cannot read the settings in " << home;
    SettingsEnvironment environment;
    environment.temporaryFolder = scratch.string();
    AppSettings settings(registry, environment);
    settings.LoadSettings();
    change(settings);
    if (!settings.SaveSettings())
        return testing::AssertionFailure() << "cannot save the settings in " << home;
    return testing::AssertionSuccess();
}

}  // namespace fetchora::test

// The settings file: the registry store's text and every value the settings
// read from it.
#include "config/app_settings.h"
#include "fuzz_input.h"
#include "platform/registry.h"

#include <cstdlib>
#include <filesystem>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path folder = [] {
        std::filesystem::path made = std::filesystem::temp_directory_path() / "fetchora-settings-fuzz";
        std::filesystem::create_directories(made);
        return made;
    }();
    Registry registry = Registry::fromText(fuzz::text(data, size));
    registry.toText();
    SettingsEnvironment environment;
    environment.programFile = (folder / "fetchora").string();
    environment.defaultDownloadFolder = (folder / "downloads").string();
    environment.temporaryFolder = (folder / "temp").string();
    environment.localeName = "en_US.UTF-8";
    AppSettings settings(registry, environment);
    settings.LoadSettings();
    return 0;
}

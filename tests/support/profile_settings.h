#pragma once
// Edits the settings file of a test profile the way the program itself
// does: load it, change the settings, save. The suites that run
// fetchora-cli prepare their profiles with it.
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

namespace fetchora {

class AppSettings;

namespace test {

// The settings file in `home` (created when missing) gets what `change`
// does; `scratch` serves as the temporary folder while the settings are open.
testing::AssertionResult changeProfileSettings(const std::filesystem::path& home, const std::filesystem::path& scratch,
                                               const std::function<void(AppSettings&)>& change);

}  // namespace test
}  // namespace fetchora

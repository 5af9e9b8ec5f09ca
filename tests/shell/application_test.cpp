#include "shell/application.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fetchora {
namespace {

using test::TempDir;

TEST(Application, StartsInTheProfileFolderAndSavesSettingsThere)
{
    TempDir dir;
    Environment environment = mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                                              {"TMPDIR", dir.path().string()},
                                              {"HOME", dir.path().string()},
                                              {"LANG", "de_DE.UTF-8"}});
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        EXPECT_EQ(app.profileFolder(), dir / "profile");
        EXPECT_TRUE(std::filesystem::is_directory(app.temporaryFolder()));
        EXPECT_EQ(app.settings().GetOptionText(OptionId::MirrorCountryCode), "DE");
        app.settings().SetOption(OptionId::ConnectTimeout, 120);
        ASSERT_TRUE(app.saveSettings());
        EXPECT_TRUE(std::filesystem::exists(dir / "profile" / "settings.reg"));
        app.stop();
        EXPECT_FALSE(std::filesystem::exists(app.temporaryFolder()));
    }
    Application again(environment);
    std::string error;
    ASSERT_TRUE(again.start(error)) << error;
    EXPECT_EQ(again.settings().GetOption(OptionId::ConnectTimeout), 120);
}

TEST(Application, AnUnusableProfileFolderStopsTheStartWithAHint)
{
    TempDir dir;
    test::writeFile(dir / "file", "not a folder");
    Application app(mapEnvironment({{"FETCHORA_HOME", (dir / "file").string()}, {"TMPDIR", dir.path().string()}}));
    std::string error;
    EXPECT_FALSE(app.start(error));
    EXPECT_NE(error.find("FETCHORA_HOME"), std::string::npos) << error;
}

}  // namespace
}  // namespace fetchora

#include "shell/explorer_commands.h"

#include <gtest/gtest.h>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "config/settings_key.h"
#include "config/settings_values.h"
#include "explorer/explorer_node_store.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

TEST(ExplorerCommands, KeysAndEntriesOfTheMainWindowReachTheMainView)
{
    const std::pair<uint32_t, std::optional<ViewCommand>> cases[] = {
        {32866, ViewCommand::SiteExplorer},  // F2
        {57636, ViewCommand::Find},  // Ctrl+F
        {32817, ViewCommand::FindNext},  // F3, Shift+F3
        {32805, ViewCommand::ShutDownWhenDone},
        {32804, ViewCommand::HangUpWhenDone},
        {32806, ViewCommand::RedialIfDisconnected},
        {32786, ViewCommand::Options},
        // The window's own commands and those that cannot work here.
        {32882, std::nullopt},
        {32891, std::nullopt},
        {32884, std::nullopt},
        {32848, std::nullopt},
        {32812, std::nullopt},
        {32775, std::nullopt},  // the main window's Delete is never the explorer's
    };
    for (const auto& [id, command] : cases)
        EXPECT_EQ(ExplorerForwardedCommand(id), command) << id;
    EXPECT_FALSE(ExplorerCommandAvailable(kExplorerConnectCommand));
    EXPECT_FALSE(ExplorerCommandAvailable(kExplorerSpeedLimitCommand));
    for (const uint32_t id : {32866u, 57636u, 32805u, 32884u, 32882u})
        EXPECT_TRUE(ExplorerCommandAvailable(id)) << id;
}

class ExplorerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { settings.LoadSettings(); }
    Registry registry;
    AppSettings settings{registry,
                         SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora", "/tmp/dl", "/tmp/t", "C"}};
};

TEST_F(ExplorerSettingsTest, TheSwitchesShowWhatTheSettingsHold)
{
    EXPECT_EQ(ExplorerCommandChecked(settings, 32805), false);
    settings.SetOption(OptionId::ShutDownWhenDone, 1);
    settings.SetOption(OptionId::Redial, 1);
    EXPECT_EQ(ExplorerCommandChecked(settings, 32805), true);
    EXPECT_EQ(ExplorerCommandChecked(settings, 32804), false);
    EXPECT_EQ(ExplorerCommandChecked(settings, 32806), true);
    EXPECT_EQ(ExplorerCommandChecked(settings, 32882), std::nullopt);
}

TEST_F(ExplorerSettingsTest, OptionsAreTrimmedBoundedAndStored)
{
    EXPECT_EQ(ReadExplorerOptions(settings).pageTypes, kDefaultExploreTypes);
    EXPECT_EQ(ReadExplorerOptions(settings).retries, 5);
    const std::pair<ExplorerOptions, ExplorerOptions> cases[] = {
        {{" .HTM ; ;.XYZ?;", 3}, {".HTM;.XYZ?", 3}},
        {{" ; ", -4}, {std::string(kDefaultExploreTypes), 0}},
        {{"", 100000}, {std::string(kDefaultExploreTypes), kMaxExplorerRetries}},
    };
    for (const auto& [in, out] : cases) {
        const ExplorerOptions normal = NormalizedExplorerOptions(in);
        EXPECT_EQ(normal.pageTypes, out.pageTypes) << in.pageTypes;
        EXPECT_EQ(normal.retries, out.retries) << in.retries;
    }
    WriteExplorerOptions(settings, {".cfx; .Dwp", 12});
    EXPECT_EQ(settings.GetOptionText(OptionId::ExploreTypes), ".cfx;.Dwp");
    EXPECT_EQ(settings.GetOption(OptionId::ExploreRetry), 12);
    EXPECT_EQ(ReadExplorerOptions(settings).pageTypes, ".cfx;.Dwp");
}

TEST(ExplorerPageTypes, TheUsersTypesAddPagesForNodesMadeAfterwards)
{
    ExplorerNodeStore store;
    EXPECT_EQ(store.addAddress("http://host/a.dwp")->kind, ExplorerNodeKind::File);
    store.setPageTypes(".CFX;.DW?");
    EXPECT_EQ(store.addAddress("http://host/b.dwp")->kind, ExplorerNodeKind::Page);
    EXPECT_EQ(store.addAddress("http://host/c.cfx")->kind, ExplorerNodeKind::Page);
    // The built-in types stay pages, and FTP has no pages.
    EXPECT_EQ(store.addAddress("http://host/d.html")->kind, ExplorerNodeKind::Page);
    EXPECT_EQ(store.addAddress("http://host/e.zip")->kind, ExplorerNodeKind::File);
    EXPECT_EQ(store.addAddress("ftp://host/f.cfx")->kind, ExplorerNodeKind::File);
    EXPECT_EQ(store.find("http://host/a.dwp")->kind, ExplorerNodeKind::File) << "a known node keeps its kind";
}

TEST(ExplorerFilterMode, TheActiveModeIsKeptBesideThePatternHistory)
{
    Registry registry;
    EXPECT_EQ(LoadExplorerFilterMode(registry), ExplorerFilterMode::None);
    for (const ExplorerFilterMode mode :
         {ExplorerFilterMode::ShowAllExcept, ExplorerFilterMode::ShowOnly, ExplorerFilterMode::None}) {
        SaveExplorerFilterMode(registry, mode);
        EXPECT_EQ(LoadExplorerFilterMode(registry), mode);
    }
    SaveExplorerFilterMode(registry, ExplorerFilterMode::ShowAllExcept);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, settingsKey("Explorer Filter"), "Mode"), 2u);
    // A value no version wrote means no filter.
    registry.writeDword(Hive::CurrentUser, settingsKey("Explorer Filter"), "Mode", 7);
    EXPECT_EQ(LoadExplorerFilterMode(registry), ExplorerFilterMode::None);
}

}  // namespace
}  // namespace fetchora

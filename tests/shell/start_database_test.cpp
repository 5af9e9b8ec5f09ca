#include "shell/start_database.h"

#include "platform/registry.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>


namespace fetchora {
namespace {

using test::TempDir;
using Source = StartDatabaseSource;

class StartDatabase : public testing::Test {
protected:
    std::filesystem::path defaultPath() const { return m_dir / "profile" / "Default.kxd"; }
    void SetUp() override { std::filesystem::create_directories(m_dir / "profile"); }
    TempDir m_dir;
};

TEST_F(StartDatabase, WithoutARecentFileTheDefaultDatabaseIsCreatedAndChosen)
{
    StartDatabaseChoice choice = ChooseStartDatabase({}, defaultPath());
    EXPECT_EQ(choice.source, Source::DefaultFile);
    EXPECT_EQ(choice.path, defaultPath());
    EXPECT_TRUE(choice.problem.empty());
    ASSERT_TRUE(std::filesystem::exists(defaultPath()));
    EXPECT_EQ(std::filesystem::file_size(defaultPath()), 0u);

    // An existing default is opened as it is, never truncated.
    test::writeFile(defaultPath(), "H-data");
    choice = ChooseStartDatabase({}, defaultPath());
    EXPECT_EQ(choice.source, Source::DefaultFile);
    EXPECT_EQ(test::readFile(defaultPath()), "H-data");
}

TEST_F(StartDatabase, TheRecentFileWinsWhileItExists)
{
    const auto recent = m_dir / "mine.kxd";
    test::writeFile(recent, "x");
    StartDatabaseChoice choice = ChooseStartDatabase(recent, defaultPath());
    EXPECT_EQ(choice.source, Source::RecentFile);
    EXPECT_EQ(choice.path, recent);
    EXPECT_FALSE(std::filesystem::exists(defaultPath()));
}

TEST_F(StartDatabase, AMissingRecentFileWithBackupsIsRestoredOnlyWhenConfirmed)
{
    const auto recent = m_dir / "mine.kxd";
    test::writeFile(m_dir / "mine.kxd.bak", "backup");
    std::filesystem::path asked;
    StartDatabaseChoice choice = ChooseStartDatabase(recent, defaultPath(), [&](const std::filesystem::path& p) {
        asked = p;
        return true;
    });
    EXPECT_EQ(asked, recent);
    EXPECT_EQ(choice.source, Source::RecentFromBackup);
    EXPECT_EQ(choice.path, recent);

    choice = ChooseStartDatabase(recent, defaultPath(), [](const std::filesystem::path&) { return false; });
    EXPECT_EQ(choice.source, Source::DefaultFile);

    // Gone without a trace: the default takes its place.
    choice = ChooseStartDatabase(m_dir / "gone.kxd", defaultPath());
    EXPECT_EQ(choice.source, Source::DefaultFile);
}

TEST_F(StartDatabase, ADefaultThatCannotBeWrittenGivesANewDatabaseWithoutAFile)
{
    // A folder in its place cannot be opened for writing, not even by root.
    std::filesystem::create_directories(defaultPath());
    StartDatabaseChoice choice = ChooseStartDatabase({}, defaultPath());
    EXPECT_EQ(choice.source, Source::Unnamed);
    EXPECT_TRUE(choice.path.empty());
    EXPECT_NE(choice.problem.find("Default.kxd"), std::string::npos) << choice.problem;
}

TEST_F(StartDatabase, TheRecentFileIsTheFirstEntryOfTheRecentList)
{
    Registry registry;
    EXPECT_TRUE(ReadRecentFile(registry).empty());
    RememberRecentFile(registry, "/data/jobs.kxd");
    EXPECT_EQ(ReadRecentFile(registry), "/data/jobs.kxd");
    EXPECT_EQ(registry.readString(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Recent File List", "File1"),
              "/data/jobs.kxd");
}

}  // namespace
}  // namespace fetchora

#include "platform/paths.h"

#include "support/other_user.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

mode_t modeOf(const fs::path& path)
{
    struct stat st { };
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string uidName()
{
    return "fetchora-" + std::to_string(::geteuid());
}

TEST(Paths, ProfileFolderPrecedence)
{
    struct Case {
        std::map<std::string, std::string> env;
        fs::path expected;
    };
    const std::vector<Case> cases{
        {{{"FETCHORA_HOME", "/p/home/"}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/p/home"},
        {{{"FETCHORA_HOME", ""}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/x/fetchora"},
        {{{"XDG_DATA_HOME", "relative/data"}, {"HOME", "/h"}}, "/h/.local/share/fetchora"},
        {{{"XDG_DATA_HOME", ""}, {"HOME", "/h/"}}, "/h/.local/share/fetchora"},
        {{{"HOME", "relative"}}, ""},
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(profileFolderPath(mapEnvironment(c.env)), c.expected);

    // A relative FETCHORA_HOME is taken from the current folder.
    EXPECT_EQ(profileFolderPath(mapEnvironment({{"FETCHORA_HOME", "prof"}})), fs::current_path() / "prof");
}

TEST(Paths, ProfileFolderIsCreatedPrivateOnDemand)
{
    TempDir dir;
    const fs::path profile = dir / "data" / "fetchora";
    const auto env = mapEnvironment({{"XDG_DATA_HOME", (dir / "data").string()}});
    const FolderResult result = profileFolder(env);
    ASSERT_TRUE(result) << result.error;
    EXPECT_EQ(result.path, profile);
    EXPECT_TRUE(fs::is_directory(profile));
    EXPECT_EQ(modeOf(profile), 0700u);
    EXPECT_EQ(modeOf(dir / "data"), 0700u);

    // An existing folder is used as it stands.
    ::chmod(profile.c_str(), 0750);
    EXPECT_TRUE(profileFolder(env));
    EXPECT_EQ(modeOf(profile), 0750u);
}

TEST(Paths, AProfileFolderAnotherUserMayWriteIsRefused)
{
    TempDir dir;
    const fs::path open = dir / "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ::chmod(open.c_str(), 0777);
    const FolderResult everyone = profileFolder(mapEnvironment({{"FETCHORA_HOME", open.string()}}));
    EXPECT_FALSE(everyone);
    EXPECT_NE(everyone.error.find("every user"), std::string::npos) << everyone.error;

    if (const std::string why = test::otherUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    // Made ahead of us by another user, where both of us may make folders.
    const fs::path planted = test::makeSharedFolder(dir.path(), "shared") / "profile";
    ASSERT_EQ(test::runAsOtherUser([&] { return ::mkdir(planted.c_str(), 0755) == 0 ? 0 : 1; }), 0);
    const FolderResult theirs = profileFolder(mapEnvironment({{"FETCHORA_HOME", planted.string()}}));
    EXPECT_FALSE(theirs);
    EXPECT_NE(theirs.error.find("another user"), std::string::npos) << theirs.error;
}

TEST(Paths, ProfileFolderFailsClearlyWhenItCannotExist)
{
    TempDir dir;
    test::writeFile(dir / "file", "x");
    const FolderResult blocked
        = profileFolder(mapEnvironment({{"FETCHORA_HOME", (dir / "file" / "profile").string()}}));
    EXPECT_FALSE(blocked);
    EXPECT_NE(blocked.error.find("cannot create"), std::string::npos) << blocked.error;

    const FolderResult isFile = profileFolder(mapEnvironment({{"FETCHORA_HOME", (dir / "file").string()}}));
    EXPECT_FALSE(isFile);
    EXPECT_NE(isFile.error.find("not a folder"), std::string::npos) << isFile.error;

    EXPECT_FALSE(profileFolder(mapEnvironment({})));
}

TEST(Paths, TemporaryFolderIsPrivateUnderTmpdirAndReused)
{
    TempDir dir;
    const auto env = mapEnvironment({{"TMPDIR", dir.path().string() + "/"}});
    const FolderResult first = temporaryFolder(env);
    ASSERT_TRUE(first) << first.error;
    EXPECT_EQ(first.path, dir / uidName());
    EXPECT_FALSE(first.replaced);
    EXPECT_EQ(modeOf(first.path), 0700u);

    // A folder of ours left too open by an earlier run is tightened and reused.
    ::chmod(first.path.c_str(), 0755);
    test::writeFile(first.path / "kxcatch.tmp", "left over");
    const FolderResult again = temporaryFolder(env);
    ASSERT_TRUE(again) << again.error;
    EXPECT_EQ(again.path, first.path);
    EXPECT_FALSE(again.replaced);
    EXPECT_EQ(modeOf(again.path), 0700u);

    EXPECT_TRUE(removeTemporaryFolder(again.path));
    EXPECT_FALSE(fs::exists(again.path));
    EXPECT_TRUE(removeTemporaryFolder(again.path));
}

TEST(Paths, TemporaryFolderFallsBackToTmpForAMissingOrRelativeTmpdir)
{
    for (const std::string tmpdir : {"/nonexistent-fetchora-test", "relative", ""}) {
        const bool existed = fs::exists("/tmp/" + uidName());
        const FolderResult result = temporaryFolder(mapEnvironment({{"TMPDIR", tmpdir}}));
        ASSERT_TRUE(result) << result.error;
        EXPECT_EQ(result.path.parent_path(), "/tmp");
        // Leave a folder that a running program may be using.
        if (result.replaced || !existed)
            removeTemporaryFolder(result.path);
    }
}

// Another user may have planted the usual name in a shared folder: nothing
// may be written through it, and it must not be deleted at exit either.
TEST(Paths, UnsafeTemporaryFolderIsReplacedByAFreshPrivateOne)
{
    TempDir dir;
    const fs::path usual = dir / uidName();
    const auto env = mapEnvironment({{"TMPDIR", dir.path().string()}});

    fs::create_directory(dir / "target");
    fs::create_directory_symlink(dir / "target", usual);
    const FolderResult viaLink = temporaryFolder(env);
    ASSERT_TRUE(viaLink) << viaLink.error;
    EXPECT_TRUE(viaLink.replaced);
    EXPECT_NE(viaLink.error.find("symbolic link"), std::string::npos) << viaLink.error;
    EXPECT_NE(viaLink.path, usual);
    EXPECT_EQ(viaLink.path.parent_path(), dir.path());
    EXPECT_EQ(viaLink.path.filename().string().rfind(uidName() + "-", 0), 0u) << viaLink.path;
    EXPECT_FALSE(fs::is_symlink(viaLink.path));
    EXPECT_EQ(modeOf(viaLink.path), 0700u);
    EXPECT_NE(modeOf(dir / "target"), 0700u);

    EXPECT_FALSE(removeTemporaryFolder(usual));
    EXPECT_TRUE(fs::is_directory(dir / "target"));
    EXPECT_TRUE(removeTemporaryFolder(viaLink.path));

    fs::remove(usual);
    test::writeFile(usual, "not a folder");
    const FolderResult overFile = temporaryFolder(env);
    ASSERT_TRUE(overFile) << overFile.error;
    EXPECT_TRUE(overFile.replaced);
    EXPECT_TRUE(fs::is_directory(overFile.path));
    EXPECT_EQ(test::readFile(usual), "not a folder");
}

TEST(Paths, TemporaryFolderOwnedBySomeoneElseIsNotUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    TempDir dir;
    const fs::path usual = dir / uidName();
    fs::create_directory(usual);
    ASSERT_EQ(::chown(usual.c_str(), 65534, 65534), 0);
    ::chmod(usual.c_str(), 0777);

    const FolderResult result = temporaryFolder(mapEnvironment({{"TMPDIR", dir.path().string()}}));
    ASSERT_TRUE(result) << result.error;
    EXPECT_TRUE(result.replaced);
    EXPECT_NE(result.error.find("another user"), std::string::npos) << result.error;
    EXPECT_NE(result.path, usual);
    EXPECT_EQ(modeOf(usual), 0777u);
    EXPECT_FALSE(removeTemporaryFolder(usual));
    EXPECT_TRUE(fs::exists(usual));
}

TEST(Paths, DownloadAndRuntimeFolderPrecedence)
{
    EXPECT_EQ(downloadFolder(mapEnvironment({{"XDG_DOWNLOAD_DIR", "/d/"}, {"HOME", "/h"}})), "/d");
    EXPECT_EQ(downloadFolder(mapEnvironment({{"XDG_DOWNLOAD_DIR", "rel"}, {"HOME", "/h"}})), "/h/Downloads");
    EXPECT_EQ(downloadFolder(mapEnvironment({{"HOME", "/h"}})), "/h/Downloads");
    EXPECT_EQ(downloadFolder(mapEnvironment({})), "");

    EXPECT_EQ(runtimeFolder(mapEnvironment({{"XDG_RUNTIME_DIR", "/run/user/5"}}), "/tmp/x"), "/run/user/5");
    EXPECT_EQ(runtimeFolder(mapEnvironment({{"XDG_RUNTIME_DIR", ""}}), "/tmp/x"), "/tmp/x");
    EXPECT_EQ(runtimeFolder(mapEnvironment({}), "/tmp/x"), "/tmp/x");
}

TEST(Paths, ProgramFolderPrefersDataBesideTheExecutable)
{
    TempDir dir;
    const fs::path installed = dir / "usr" / "share" / "fetchora";

    // A bare build tree with nothing installed: the executable's folder.
    fs::create_directories(dir / "build");
    EXPECT_EQ(programFolder(dir / "build" / "fetchora", installed), dir / "build");

    // Installed under the configured prefix.
    fs::create_directories(installed);
    EXPECT_EQ(programFolder(dir / "build" / "fetchora", installed), installed);

    // Data shipped next to the executable wins.
    test::writeFile(dir / "build" / "mirrors.lst", "");
    EXPECT_EQ(programFolder(dir / "build" / "fetchora", installed), dir / "build");

    // An install moved to another prefix finds its own share folder.
    fs::create_directories(dir / "opt" / "bin");
    fs::create_directories(dir / "opt" / "share" / "fetchora");
    EXPECT_EQ(programFolder(dir / "opt" / "bin" / "fetchora", installed), dir / "opt" / "share" / "fetchora");

    // Without a known executable, the configured data folder.
    EXPECT_EQ(programFolder({}, installed), installed);
    EXPECT_FALSE(programFolder().empty());
}

TEST(Paths, ProcessEnvironmentReadsTheRealEnvironment)
{
    ::setenv("FETCHORA_PATHS_TEST_VALUE", "abc", 1);
    const Environment env = processEnvironment();
    EXPECT_EQ(env("FETCHORA_PATHS_TEST_VALUE"), "abc");
    ::unsetenv("FETCHORA_PATHS_TEST_VALUE");
    EXPECT_FALSE(env("FETCHORA_PATHS_TEST_VALUE").has_value());
    EXPECT_TRUE(env("HOME").has_value());
}

}  // namespace
}  // namespace fetchora

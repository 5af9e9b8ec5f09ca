#include "platform/single_instance.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {
namespace {

using test::TempDir;
using Result = SingleInstance::Result;

TEST(SingleInstance, TheFirstHoldsTheLockUntilItLetsGoAndTheSecondFindsItHeld)
{
    TempDir dir;
    std::string error;
    SingleInstance first;
    ASSERT_EQ(first.acquire(dir.path(), error), Result::First) << error;
    EXPECT_TRUE(std::filesystem::exists(dir / "Korvex Class"));

    SingleInstance second;
    EXPECT_EQ(second.acquire(dir.path(), error), Result::AnotherRuns);
    EXPECT_FALSE(second.held());

    first.release();
    EXPECT_EQ(second.acquire(dir.path(), error), Result::First) << error;
}

TEST(SingleInstance, ASymlinkInPlaceOfTheLockIsNotFollowed)
{
    TempDir dir;
    test::writeFile(dir / "target", "x");
    std::filesystem::create_symlink(dir / "target", dir / "Korvex Class");
    SingleInstance instance;
    std::string error;
    EXPECT_EQ(instance.acquire(dir.path(), error), Result::Failed);
    EXPECT_NE(error.find("Korvex Class"), std::string::npos) << error;
}

TEST(ServiceFolder, UsesTheRuntimeFolderElseAPrivateFolderBesideTheTemporaryOnes)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "runtime");
    FolderResult runtime = serviceFolder(mapEnvironment({{"XDG_RUNTIME_DIR", (dir / "runtime").string()}}));
    EXPECT_EQ(runtime.path, dir / "runtime");

    // A relative or missing runtime folder does not count.
    FolderResult fallback
        = serviceFolder(mapEnvironment({{"XDG_RUNTIME_DIR", "relative"}, {"TMPDIR", dir.path().string()}}));
    const auto expected = dir / ("fetchora-" + std::to_string(::geteuid()) + "-run");
    ASSERT_EQ(fallback.path, expected) << fallback.error;
    struct stat st;
    ASSERT_EQ(::stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ServiceFolder, RefusesASymlinkUnderItsName)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "elsewhere",
                                              dir / ("fetchora-" + std::to_string(::geteuid()) + "-run"));
    FolderResult result = serviceFolder(mapEnvironment({{"TMPDIR", dir.path().string()}}));
    EXPECT_FALSE(result);
    EXPECT_NE(result.error.find("not a folder of ours"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace fetchora

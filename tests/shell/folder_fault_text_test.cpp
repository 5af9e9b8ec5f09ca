#include "shell/folder_fault_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "lang/current_language.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

void useGerman()
{
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n"
                                       "41432=%1 l\xC3\xA4sst sich nicht anlegen: %2\n"
                                       "41435=%1 ist ein symbolischer Link\n"
                                       "41439=%1 darf von jedem Benutzer beschrieben werden\n"
                                       "41494=Kein Ordner\n");
    german->fileName = "kxdeu.ini";
    setCurrentLanguage(std::move(german));
}

// Each reason a folder is refused for keeps its kind, folder and errno, so
// that it reads in English as before and in the current language where it
// is shown.
TEST(FolderFaultText, TheFolderChecksReasonsAreSaidInTheCurrentLanguage)
{
    test::TempDir dir;
    const fs::path open = dir / "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ::chmod(open.c_str(), 0777);
    const FolderCheck everyone = checkProfileFolder(mapEnvironment({{"FETCHORA_HOME", open.string()}}));
    ASSERT_FALSE(everyone.result);
    ASSERT_EQ(everyone.faults.size(), 1u);
    EXPECT_EQ(everyone.faults[0].kind, FolderFaultKind::WritableByEveryone);
    EXPECT_EQ(folderFaultsText(everyone), everyone.result.error);
    EXPECT_EQ(everyone.result.error, open.string() + " may be written by every user; make it private (chmod 700)");

    test::writeFile(dir / "file", "x");
    const FolderCheck blocked = checkProfileFolder(mapEnvironment({{"FETCHORA_HOME", (dir / "file" / "p").string()}}));
    ASSERT_EQ(blocked.faults.size(), 1u);
    EXPECT_EQ(blocked.faults[0].kind, FolderFaultKind::CannotCreate);
    EXPECT_EQ(blocked.faults[0].systemError, ENOTDIR);
    EXPECT_EQ(folderFaultsText(blocked), "cannot create " + (dir / "file" / "p").string() + ": Not a directory");

    // The usual temporary folder is a link: a fresh one is used, and why is kept.
    const fs::path base = dir / "tmp";
    fs::create_directories(base / "elsewhere");
    fs::create_directory_symlink(base / "elsewhere", base / ("fetchora-" + std::to_string(::geteuid())));
    const FolderCheck replaced = checkTemporaryFolder(mapEnvironment({{"TMPDIR", base.string()}}));
    ASSERT_TRUE(replaced.result);
    EXPECT_TRUE(replaced.result.replaced);
    ASSERT_EQ(replaced.faults.size(), 1u);
    EXPECT_EQ(replaced.faults[0].kind, FolderFaultKind::SymbolicLink);

    useGerman();
    EXPECT_EQ(folderFaultsText(everyone), open.string() + " darf von jedem Benutzer beschrieben werden");
    EXPECT_EQ(folderFaultsText(blocked),
              (dir / "file" / "p").string() + " l\xC3\xA4sst sich nicht anlegen: Kein Ordner");
    EXPECT_EQ(folderFaultsText(replaced),
              (base / ("fetchora-" + std::to_string(::geteuid()))).string() + " ist ein symbolischer Link");
    // The English stays what logs and scripts read.
    EXPECT_EQ(blocked.result.error, "cannot create " + (dir / "file" / "p").string() + ": Not a directory");
    setCurrentLanguage(nullptr);
    removeTemporaryFolder(replaced.result.path);
}

}  // namespace
}  // namespace fetchora

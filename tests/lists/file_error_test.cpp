#include "lists/file_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "lang/current_language.h"
#include "lang/language_file.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(FileError, TextsFollowTheCurrentLanguageAndFallBackToEnglish)
{
    test::TempDir dir;
    const auto missing = dir / "gone.txt";
    const auto noFolder = dir / "nowhere" / "gone.txt";
    EXPECT_EQ(FileErrorText(missing, ENOENT), missing.string() + " was not found.");
    EXPECT_EQ(FileErrorText(noFolder, ENOENT), noFolder.string() + " contains an incorrect path.");
    EXPECT_EQ(FileErrorText(missing, EACCES), "Access to " + missing.string() + " was denied.");

    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n61730=%1 wurde nicht gefunden.\n61733=Zugriff auf %1 verweigert.\n");
    setCurrentLanguage(std::move(german));
    EXPECT_EQ(FileErrorText(missing, ENOENT), missing.string() + " wurde nicht gefunden.");
    EXPECT_EQ(FileErrorText(missing, EACCES), "Zugriff auf " + missing.string() + " verweigert.");
    // An id the file lacks stays English.
    EXPECT_EQ(FileErrorText(noFolder, ENOENT), noFolder.string() + " contains an incorrect path.");
    setCurrentLanguage(nullptr);
    EXPECT_EQ(FileErrorText(missing, ENOENT), missing.string() + " was not found.");
    EXPECT_EQ(FileErrorPattern(12345), "");
}

}  // namespace
}  // namespace fetchora

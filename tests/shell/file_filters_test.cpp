// The file choosers' filters: labels in the current language, patterns as
// they are, and a file's extension that cannot bend the filter's form.
#include "shell/file_filters.h"

#include <memory>

#include "lang/current_language.h"
#include "lang/language_file.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

struct EnglishAfterwards {
    ~EnglishAfterwards() { setCurrentLanguage(nullptr); }
};

TEST(FileFilters, EnglishFiltersReadAsTheChoosersTakeThem)
{
    EXPECT_EQ(databaseFileFilter(), "Fetchora Files (*.kxd)|*.kxd|All Files (*.*)|*.*||");
    EXPECT_EQ(urlListFileFilter(), "URL list files (*.lst)|*.lst|All Files (*.*)|*.*||");
    EXPECT_EQ(htmlFileFilter(), "HTML File (*.htm; *.html)|*.htm;*.html|All Files (*.*)|*.*||");
    EXPECT_EQ(fileOfTypeFilter("zip"), "zip File (*.zip)|*.zip|All Files (*.*)|*.*||");
    EXPECT_EQ(fileFilter({}), "All Files (*.*)|*.*||");
}

TEST(FileFilters, TheLanguageNamesTheFilesButNeverChangesWhichFilesShow)
{
    EnglishAfterwards english;
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n40921=Alle Dateien\n40922=Fetchora-Dateien\n40924=%1-Datei\n");
    setCurrentLanguage(std::move(german));
    EXPECT_EQ(databaseFileFilter(), "Fetchora-Dateien (*.kxd)|*.kxd|Alle Dateien (*.*)|*.*||");
    EXPECT_EQ(fileOfTypeFilter("rar"), "rar-Datei (*.rar)|*.rar|Alle Dateien (*.*)|*.*||");
    // Not in the file: English.
    EXPECT_EQ(urlListFileFilter(), "URL list files (*.lst)|*.lst|Alle Dateien (*.*)|*.*||");
}

// A downloaded file's name is the server's: a "|" in its extension would
// start a new entry, a "*" or ";" would widen the patterns.
TEST(FileFilters, AnExtensionThatCouldBendTheFilterOffersEveryFileAlone)
{
    for (const char* extension : {"", "a|b", "*", "x;*", "t(1)", "a b", "[z]"})
        EXPECT_EQ(fileOfTypeFilter(extension), "All Files (*.*)|*.*||") << extension;
    EXPECT_EQ(fileOfTypeFilter("tar-gz_2"), "tar-gz_2 File (*.tar-gz_2)|*.tar-gz_2|All Files (*.*)|*.*||");
}

}  // namespace
}  // namespace fetchora

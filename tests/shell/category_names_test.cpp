// The default categories' names in the language shown: what counts as a
// name the user never changed, and what a database made in another language
// is given when it is opened.
#include "shell/category_names.h"

#include <string>
#include <vector>

#include "lang/current_language.h"
#include "model/job_database.h"
#include "support/category_language.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::filedCategoryNames;
using test::languageOf;

// Leaves the built-in English current whatever the test's outcome.
struct EnglishAfterwards {
    ~EnglishAfterwards() { setCurrentLanguage(nullptr); }
};

TEST(CategoryNames, ADatabaseMadeInEnglishTakesTheNamesOfTheLanguageItIsOpenedIn)
{
    EnglishAfterwards english;
    JobLock jobLock;
    CZoviradDoc doc(jobLock);
    doc.CreateDefaultCategories("");
    setCurrentLanguage(languageOf("61296=Programme,Spiele,Treiber,Musik\n61204=Herunterladen\n"));
    CategoryNames names;
    EXPECT_EQ(names.shown(), (std::vector<std::string>{"Programme", "Spiele", "Treiber", "Musik"}));
    EXPECT_TRUE(names.retext(doc, jobLock));
    EXPECT_EQ(filedCategoryNames(doc), (std::vector<std::string>{"Programme", "Spiele", "Treiber", "Musik"}));
    EXPECT_EQ(doc.downloading()->name, "Herunterladen");
    // Nothing left to change: no save is asked for.
    EXPECT_FALSE(names.retext(doc, jobLock));
    setCurrentLanguage(nullptr);
    EXPECT_TRUE(names.retext(doc, jobLock));
    EXPECT_EQ(filedCategoryNames(doc), (std::vector<std::string>{"Software", "Game", "Driver", "Mp3"}));
}

TEST(CategoryNames, AShortOrPaddedTranslationKeepsEachNameInItsPlace)
{
    EnglishAfterwards english;
    setCurrentLanguage(languageOf("61296= Programme , ,Treiber\n"));
    // The empty second item and the missing fourth one stay English.
    EXPECT_EQ(defaultCategoryNames(), (std::vector<std::string>{"Programme", "Game", "Treiber", "Mp3"}));
}

}  // namespace
}  // namespace fetchora

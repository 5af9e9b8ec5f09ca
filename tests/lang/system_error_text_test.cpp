#include "lang/system_error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "lang/current_language.h"

namespace fetchora {
namespace {

constexpr int kMapped[] = {EISDIR, EMFILE, ENOSPC, EACCES, EROFS, ENOTDIR, ENOENT, EDQUOT, EIO, ENAMETOOLONG, EEXIST};

// The built-in English is the C library's own words, so that a run in English
// reads as it always did; a translation replaces them for the common causes.
TEST(SystemErrorText, EnglishIsTheLibrarysWordsAndATranslationReplacesThem)
{
    for (int error : kMapped)
        EXPECT_EQ(systemErrorText(error), std::strerror(error)) << error;
    EXPECT_EQ(systemErrorText(ECONNABORTED), std::strerror(ECONNABORTED));

    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n41491=Kein Platz mehr auf dem Datentr\xC3\xA4ger\n41494=Kein Ordner\n");
    german->fileName = "kxdeu.ini";
    setCurrentLanguage(std::move(german));
    EXPECT_EQ(systemErrorText(ENOSPC), "Kein Platz mehr auf dem Datentr\xC3\xA4ger");
    EXPECT_EQ(systemErrorText(ENOTDIR), "Kein Ordner");
    // A cause the file lacks, and one without a text of ours, keep the library's words.
    EXPECT_EQ(systemErrorText(EIO), std::strerror(EIO));
    EXPECT_EQ(systemErrorText(ECONNABORTED), std::strerror(ECONNABORTED));
    setCurrentLanguage(nullptr);
}

}  // namespace
}  // namespace fetchora

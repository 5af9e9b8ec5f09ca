#pragma once
// A language made of a few "String" entries, current for one test's scope and
// English again when the scope ends, even when a failed assertion leaves it
// early, so that no later test runs in the wrong language.
#include <memory>
#include <string>
#include <string_view>

#include "lang/current_language.h"

namespace fetchora::test {

class ScopedLanguage {
public:
    // strings: "id=text" lines of the "String" section.
    explicit ScopedLanguage(std::string_view strings, std::string fileName = "kxdeu.ini")
    {
        auto language = std::make_unique<ActiveLanguage>();
        language->file = LanguageFile::parse("[String]\n" + std::string(strings));
        language->fileName = std::move(fileName);
        setCurrentLanguage(std::move(language));
    }
    ~ScopedLanguage() { setCurrentLanguage(nullptr); }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;
};

}  // namespace fetchora::test

#pragma once
// The one language the whole program shows: every string-table lookup
// (builtinString), menu, toolbar and dialog text asks it.
//
// Lookups hand out views into the language's text, and workers look texts
// up while the user may switch: a language once made current is kept until
// the program ends (switching is rare and a file is small), so a view taken
// before a switch stays valid.
//
// Thread: any. Switching is meant for the GUI (or main) thread.
#include <memory>
#include <string>

#include "lang/language_file.h"

namespace fetchora {

struct ActiveLanguage {
    LanguageFile file;
    std::string fileName;  // "kxdeu.ini"
    bool rightToLeft = false;
};

// Null while the built-in English is shown.
const ActiveLanguage* currentLanguage();
// Null: back to English.
void setCurrentLanguage(std::unique_ptr<ActiveLanguage> language);

}  // namespace fetchora

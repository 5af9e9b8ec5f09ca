#pragma once
// --lang: the command line's messages in another language. The translation
// is looked for as the desktop program looks for it: the profile's
// "language" folder first, then the program's.
//
// Thread: the main thread, before any worker starts.
#include <string>

namespace fetchora {

// Makes the language of the code current; false (and the messages stay
// English) when there is no translation for it. An empty code does nothing.
bool useCliLanguage(const std::string& code);

}  // namespace fetchora

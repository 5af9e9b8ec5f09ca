#pragma once
// The translations there are, and which one the program starts with.
//
// Files named "kx" + three letters + ".ini" in the profile's "language"
// folder and the program's "language" folder (the profile's copy of a name
// wins, so that a user can replace a shipped file) are listed when their
// "Info" names the language; "kxeng.ini" stands for the built-in English and
// is never listed. The list is sorted by display name without regard to
// case; index 0 of the language menu is English, list entry i is i + 1.
//
// Thread: any; plain values.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lang/language_file.h"

namespace fetchora {

struct LanguageEntry {
    std::string displayName;
    std::string fileName;  // "kxdeu.ini"
    std::string path;
    uint32_t codePage = 0;
};

bool isLanguageFileName(std::string_view name);

// Every listed file of the folders, earlier folders first for equal names.
std::vector<LanguageEntry> listLanguageFiles(const std::vector<std::string>& folders);

// The locale the user's messages follow: LC_ALL, LC_MESSAGES, then LANG.
std::string messagesLocale();

// "de_DE.UTF-8" -> "deu": the three letters a translation for the locale is
// named with; empty for English, "C" and locales without one.
std::string localeLanguageCode(std::string_view locale);
// "deu" -> "de", "ptb" -> "pt_BR": the locale a translation's three letters
// stand for; empty when unknown.
std::string localeOfLanguageCode(std::string_view code);
// The Windows code page a locale's texts were written in (1252 when unknown).
uint32_t localeCodePage(std::string_view locale);

// The entry the program starts with; nullopt for the built-in English.
// configured: the stored file name; nullopt when none was ever chosen (then
// the locale's file, or a file for the locale's code page when that is not
// 1252, is taken).
std::optional<std::size_t> chooseStartLanguage(const std::vector<LanguageEntry>& entries,
                                               const std::optional<std::string>& configured, std::string_view locale);

// The entry whose file name is given (without regard to case).
std::optional<std::size_t> findLanguageFile(const std::vector<LanguageEntry>& entries, std::string_view fileName);

// A code such as "deu" or "de" (what a user types on a command line) -> the
// entry for it.
std::optional<std::size_t> findLanguageCode(const std::vector<LanguageEntry>& entries, std::string_view code);

// Right-to-left scripts: the Hebrew file and the Arabic one.
bool isRightToLeftFile(std::string_view fileName);

}  // namespace fetchora

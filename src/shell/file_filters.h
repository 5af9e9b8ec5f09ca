#pragma once
// The filters of the file choosers ("Fetchora Files (*.kxd)|*.kxd|All Files
// (*.*)|*.*||", the form UserPrompts takes), with their labels from the
// string table so that the current language reaches them. The patterns are
// never translated: a translation cannot make a chooser hide the files it
// is there for.
//
// Thread: any (see lang/string_table.h).
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fetchora {

inline constexpr uint32_t kStrAllFiles = 40921;  // "All Files"
inline constexpr uint32_t kStrFetchoraFiles = 40922;  // "Fetchora Files"
inline constexpr uint32_t kStrUrlListFiles = 40923;  // "URL list files"
inline constexpr uint32_t kStrFileOfType = 40924;  // "%1 File", %1 the extension
inline constexpr uint32_t kStrHtmlFiles = 40925;  // "HTML File"
inline constexpr uint32_t kStrSoundFiles = 40926;  // "Sounds"

struct FileFilterEntry {
    std::string label;  // shown as it stands
    std::string_view patterns;  // "*.htm;*.html"
};

// "label (patterns)|patterns|" for each entry, then "All Files (*.*)|*.*|",
// then the closing "|".
std::string fileFilter(std::initializer_list<FileFilterEntry> entries);

// The job databases (open, save as, merge).
std::string databaseFileFilter();
// The URL list files.
std::string urlListFileFilter();
// Files with the given extension ("zip": "zip File (*.zip)"); every file
// alone for an empty extension or one that holds a pattern or separator
// character, which would make the filter read as something else.
std::string fileOfTypeFilter(std::string_view extension);
// HTML pages.
std::string htmlFileFilter();

}  // namespace fetchora

#pragma once
// The file-type pattern lists of the settings (".ZIP;.EXE;.R[0-9][0-9]"),
// matched against a file-name extension. Used by the download rules, the
// captured file types and the other file-type lists.
//
// Thread: any (pure functions).
#include <cstddef>
#include <string_view>

namespace fetchora {

// Patterns and extensions are cut to this many characters before matching.
inline constexpr size_t kPatternMaxLength = 60;

// True when the extension matches one of the ";"-separated patterns. Both are
// compared in upper case; an extension without a leading "." gets one. A
// pattern without "?" or "[" must equal the extension; otherwise "?" stands
// for any one character and "[A-C,X]" for one character out of the listed
// items and ranges. There is no wildcard for a run of characters, and a class
// left open (no "]") makes its pattern match nothing.
bool matchPatternList(std::string_view patterns, std::string_view extension);

// One pattern against one extension, with the same normalisation.
bool matchPattern(std::string_view pattern, std::string_view extension);

// The extension of a file name, from its last "." on (".ZIP" of "a.b.zip");
// empty when the name has no ".".
std::string_view fileExtension(std::string_view fileName);

}  // namespace fetchora

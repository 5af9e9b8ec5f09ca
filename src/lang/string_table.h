#pragma once
// The built-in English string table: every user-visible message, looked up by
// its numeric id, as language files will later override it.
//
// Thread: any; the functions are pure and the table is constant data.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace fetchora {

struct BuiltinString {
    uint32_t id;
    std::string_view text;
};

// The text of a message id in the current language (lang/current_language.h),
// the built-in English where the language has none; empty for an unknown id.
// The view stays valid until the program ends.
std::string_view builtinString(uint32_t id);
// The built-in English text alone; empty for an unknown id.
std::string_view englishString(uint32_t id);

// Item index (from 0) of a comma-separated list message ("Date,Information")
// in the current language; a translation with fewer items gives the English
// item, so a short list never leaves a column without its name. Empty past
// the end of both.
std::string_view builtinListItem(uint32_t id, std::size_t index);

// Fills "%1".."%9" placeholders of a message with the given arguments, in
// order. A placeholder without an argument is left as it stands.
std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

// The text of a message id in the current language with "%1".."%9" filled
// in; the one way every layer puts a message into words when it is made.
std::string builtinText(uint32_t id, std::initializer_list<std::string_view> args = {});

// Every built-in entry, sorted by ascending id with no id twice; for writing
// an English language file or checking a translation for missing ids.
std::span<const BuiltinString> builtinStringTable();

// Fills the printf-style fields ("%d", "%s", "%u", "%02d", "%I64d"...) that
// some messages carry, each with the next argument, which the caller has
// already turned into text; a width pads it ("%02d" of "5" gives "05", "%-4s"
// pads on the right). "%%" gives "%". A field without an argument, or a "%"
// that starts no field, is left as it stands. Unlike handing the message to
// printf, a translated text with wrong or extra fields cannot read past the
// arguments.
std::string fillPrintfFields(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace fetchora

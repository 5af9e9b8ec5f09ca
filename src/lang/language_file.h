#pragma once
// One translation file ("kx???.ini"): sections of numbered texts for the
// string table ("String"), the menus ("Menu", "<id>" and "<first id>p" for a
// pop-up), each dialog (its section name, "<control id>" and "Title") and
// the standard buttons ("Dialog_Common"), with "Info" naming the language.
//
// The file is untrusted: it is read only up to kMaxLanguageFileBytes, lines
// beyond kMaxLanguageLineBytes are cut, and whatever does not parse is left
// out, so a broken file gives fewer translations, never a failure.
//
// Thread: a parsed file is immutable and may be read from any thread.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

inline constexpr std::size_t kMaxLanguageFileBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxLanguageLineBytes = 16 * 1024;
// Dialog controls below this id fall back to "Dialog_Common".
inline constexpr int kCommonControlLimit = 10;

class LanguageFile {
public:
    LanguageFile() = default;

    // The file's text decoded to UTF-8: as it is when it is valid UTF-8,
    // else from its "Info" "Codepage" (Windows-1252 when that is missing or
    // unknown).
    static LanguageFile parse(std::string_view bytes);
    // nullopt when the file cannot be read; an unreadable tail is cut.
    static std::optional<LanguageFile> load(const std::string& path);

    // The raw value of a key (case-insensitive, as the file format is);
    // nullopt when missing.
    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;

    std::string_view displayName() const { return valueOr("Info", "Language"); }
    std::string_view version() const { return valueOr("Info", "Version"); }
    std::string_view translator() const { return valueOr("Info", "Translator"); }
    // "Info" "Codepage" as a number; 0 when missing or not a number.
    uint32_t codePage() const;

    // "String" <id>, with the written "\r\n" and "\n" turned into line breaks.
    std::optional<std::string_view> string(uint32_t id) const;
    // A dialog control's text; ids below kCommonControlLimit fall back to
    // "Dialog_Common".
    std::optional<std::string_view> controlText(std::string_view section, int controlId) const;
    std::optional<std::string_view> dialogTitle(std::string_view section) const;
    std::optional<std::string_view> menuText(uint32_t command) const;
    // A pop-up menu's own text, keyed by its first item's command.
    std::optional<std::string_view> popupText(uint32_t firstCommand) const;

    bool empty() const { return m_sections.empty(); }
    std::size_t keyCount() const;

private:
    std::string_view valueOr(std::string_view section, std::string_view key) const;

    // Lower-cased section -> lower-cased key -> value (the first one given).
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> m_sections;
};

// "\r\n" and "\n" as written in a file -> a line break; any other backslash
// stays as it stands.
std::string expandLineBreaks(std::string_view text);

// Bytes of a Windows code page as UTF-8, through iconv; a byte that does not
// decode becomes U+FFFD. nullopt when the code page is unknown to iconv.
std::optional<std::string> decodeCodePage(std::string_view bytes, uint32_t codePage);

}  // namespace fetchora

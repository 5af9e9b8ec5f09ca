#include "lang/language_file.h"

#include <iconv.h>
#include <ini.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <mutex>
#include <vector>

#include "lang/display_text.h"

namespace fetchora {
namespace {

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// The parser's switches are process-wide; set them once to what the format
// needs: no continuation lines, no inline comments (a ";" belongs to the
// text) and ";" alone starts a comment.
char kCommentPrefixes[] = ";";

void configureParser()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ini_allow_multiline = false;
        ini_allow_inline_comments = false;
        ini_start_comment_prefixes = kCommentPrefixes;
        ini_stop_on_first_error = false;
    });
}

// Hands the parser one line at a time. The parser's line buffer is fixed
// when the library is built (a few hundred bytes), shorter than some
// messages: a longer "key=value" line goes to it as "key=<marker>" and the
// value is put back by keepEntry. Any other line too long for the buffer is
// dropped whole, so that no rest of it ever reads as a line of its own.
constexpr char kLongValueMarker = '\x01';

struct LineReader {
    std::string_view text;
    std::size_t pos = 0;
    std::vector<std::string> longValues;
};

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last + 1 - first);
}

char* readLine(char* buffer, int size, void* stream)
{
    auto& reader = *static_cast<LineReader*>(stream);
    if (reader.pos >= reader.text.size() || size < 32)
        return nullptr;
    const std::string_view rest = reader.text.substr(reader.pos);
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end == std::string_view::npos ? rest.size() : end);
    reader.pos += end == std::string_view::npos ? rest.size() : end + 1;
    const auto room = static_cast<std::size_t>(size) - 3;
    std::string shown;
    if (line.size() <= room) {
        shown = line;
    } else {
        const std::size_t equals = line.find_first_of("=:");
        const std::string marker = kLongValueMarker + std::to_string(reader.longValues.size());
        if (equals != std::string_view::npos && equals + 1 + marker.size() <= room) {
            reader.longValues.emplace_back(trimmed(line.substr(equals + 1, kMaxLanguageLineBytes)));
            shown = std::string(line.substr(0, equals + 1)) + marker;
        }
    }
    std::copy(shown.begin(), shown.end(), buffer);
    buffer[shown.size()] = '\n';
    buffer[shown.size() + 1] = '\0';
    return buffer;
}

using Sections = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;

struct ParseState {
    Sections sections;
    LineReader* reader = nullptr;
};

int keepEntry(void* user, const char* section, const char* name, const char* value)
{
    if (section == nullptr || name == nullptr || value == nullptr)
        return 1;
    // A key before the first section, or under "[]" or "[ ]", belongs to no
    // section a lookup names: it is left out like any line that does not parse.
    if (trimmed(section).empty())
        return 1;
    auto& state = *static_cast<ParseState*>(user);
    std::string_view text(value);
    if (!text.empty() && text.front() == kLongValueMarker) {
        std::size_t index = 0;
        const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), index);
        if (error == std::errc() && end == text.data() + text.size() && index < state.reader->longValues.size())
            text = state.reader->longValues[index];
    }
    // Windows reads a value in matching double quotes without them, which is
    // how a translation keeps its leading or trailing blanks.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    auto& keys = state.sections[lowered(section)];
    // The first of two equal keys counts, as Windows reads it.
    keys.try_emplace(lowered(name), text);
    return 1;
}

Sections parseText(std::string_view text)
{
    configureParser();
    LineReader reader{text, 0, {}};
    ParseState state{{}, &reader};
    ini_parse_stream(readLine, &reader, keepEntry, &state);
    Sections sections = std::move(state.sections);
    // Messages are looked up often and handed out as views: their line
    // breaks are expanded once here.
    if (const auto strings = sections.find("string"); strings != sections.end()) {
        for (auto& [key, value] : strings->second)
            value = expandLineBreaks(value);
    }
    return sections;
}

}  // namespace

std::string expandLineBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && text.substr(i, 4) == "\\r\\n") {
            out += '\n';
            i += 3;
        } else if (text[i] == '\\' && text.substr(i, 2) == "\\n") {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::string> decodeCodePage(std::string_view bytes, uint32_t codePage)
{
    const std::string name = codePage == 65001 ? std::string("UTF-8") : "CP" + std::to_string(codePage);
    iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof(buffer);
        const std::size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (done != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or cut-off sequence: one byte is lost, the rest goes on.
        out += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof(buffer);
    iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    iconv_close(converter);
    return out;
}

LanguageFile LanguageFile::parse(std::string_view bytes)
{
    if (bytes.size() > kMaxLanguageFileBytes)
        bytes = bytes.substr(0, kMaxLanguageFileBytes);
    LanguageFile file;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (isValidUtf8(bytes)) {
        file.m_sections = parseText(bytes);
        return file;
    }
    // The code page is named inside the text it decodes; its line is ASCII
    // in every code page a translation uses.
    file.m_sections = parseText(bytes);
    const uint32_t page = file.codePage();
    std::optional<std::string> text = page != 0 ? decodeCodePage(bytes, page) : std::nullopt;
    if (!text)
        text = decodeCodePage(bytes, 1252);
    file.m_sections = text ? parseText(*text) : Sections{};
    return file;
}

std::optional<LanguageFile> LanguageFile::load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes(kMaxLanguageFileBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return parse(bytes);
}

std::optional<std::string_view> LanguageFile::value(std::string_view section, std::string_view key) const
{
    const auto keys = m_sections.find(lowered(section));
    if (keys == m_sections.end())
        return std::nullopt;
    const auto found = keys->second.find(lowered(key));
    if (found == keys->second.end())
        return std::nullopt;
    return std::string_view(found->second);
}

std::string_view LanguageFile::valueOr(std::string_view section, std::string_view key) const
{
    return value(section, key).value_or(std::string_view());
}

uint32_t LanguageFile::codePage() const
{
    const std::string_view text = valueOr("Info", "Codepage");
    uint32_t page = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
    return error == std::errc() && end == text.data() + text.size() ? page : 0;
}

std::optional<std::string_view> LanguageFile::string(uint32_t id) const
{
    return value("String", std::to_string(id));
}

std::optional<std::string_view> LanguageFile::controlText(std::string_view section, int controlId) const
{
    if (controlId < 0)
        return std::nullopt;
    const std::string key = std::to_string(controlId);
    if (auto text = value(section, key))
        return text;
    if (controlId < kCommonControlLimit)
        return value("Dialog_Common", key);
    return std::nullopt;
}

std::optional<std::string_view> LanguageFile::dialogTitle(std::string_view section) const
{
    return value(section, "Title");
}

std::optional<std::string_view> LanguageFile::menuText(uint32_t command) const
{
    return value("Menu", std::to_string(command));
}

std::optional<std::string_view> LanguageFile::popupText(uint32_t firstCommand) const
{
    return value("Menu", std::to_string(firstCommand) + "p");
}

std::size_t LanguageFile::keyCount() const
{
    std::size_t count = 0;
    for (const auto& [name, keys] : m_sections)
        count += keys.size();
    return count;
}

}  // namespace fetchora

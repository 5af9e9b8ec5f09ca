#include "lists/export_template.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lists/file_error.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

std::string finishValue(std::string_view raw)
{
    std::string_view value = trimBoth(raw, kLineBlanks);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value.remove_prefix(1);
        value.remove_suffix(1);
    }
    if (value.size() > kTemplateValueLimit)
        value = value.substr(0, kTemplateValueLimit);
    std::string out;
    out.reserve(value.size());
    constexpr std::string_view kEnter = "{F_ENTER}";
    std::size_t pos = 0;
    while (pos < value.size()) {
        const std::size_t hit = value.find(kEnter, pos);
        if (hit == std::string_view::npos) {
            out.append(value.substr(pos));
            break;
        }
        out.append(value.substr(pos, hit - pos));
        out += "\r\n";
        pos = hit + kEnter.size();
    }
    return out;
}

}  // namespace

ExportTemplate ParseExportTemplate(std::string_view iniText)
{
    ExportTemplate out;
    std::string* const slots[] = {&out.fileStart, &out.categoryStart, &out.item, &out.categoryEnd, &out.fileEnd};
    constexpr std::string_view kKeys[] = {"F_START", "C_START", "ITEM", "C_END", "F_END"};
    bool seen[5] = {};

    bool inFormat = false;
    std::size_t pos = 0;
    while (pos <= iniText.size()) {
        std::size_t end = iniText.find('\n', pos);
        if (end == std::string_view::npos)
            end = iniText.size();
        const std::string_view line = trimBoth(iniText.substr(pos, end - pos), kLineBlanks);
        pos = end + 1;
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            inFormat = close != std::string_view::npos
                && equalsIgnoringCase(trimBoth(line.substr(1, close - 1), kLineBlanks), "Format");
            continue;
        }
        if (!inFormat)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = trimBoth(line.substr(0, equals), kLineBlanks);
        for (std::size_t i = 0; i < 5; ++i) {
            if (!seen[i] && equalsIgnoringCase(key, kKeys[i])) {
                seen[i] = true;
                *slots[i] = finishValue(line.substr(equals + 1));
            }
        }
    }
    return out;
}

TemplateReadResult ReadExportTemplate(const std::filesystem::path& file)
{
    TemplateReadResult result;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        result.error = FileErrorText(file, ec.value());
        return result;
    }
    if (size > kTemplateFileLimit) {
        result.error = file.string() + ": the template is larger than " + std::to_string(kTemplateFileLimit) + " bytes";
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.error = FileErrorText(file, errno);
        return result;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = file.string() + ": read error";
        return result;
    }
    result.format = ParseExportTemplate(text);
    result.ok = true;
    return result;
}

std::vector<std::string> ListExportStyles(const std::filesystem::path& programFolder)
{
    std::vector<std::string> styles;
    std::error_code ec;
    std::filesystem::directory_iterator it(programFolder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        const std::string extension = path.extension().string();
        if (!equalsIgnoringCase(extension, kTemplateExtension) || !it->is_regular_file(ec))
            continue;
        styles.push_back(path.stem().string());
    }
    std::sort(styles.begin(), styles.end());
    return styles;
}

std::filesystem::path ExportStylePath(const std::filesystem::path& programFolder, std::string_view style)
{
    return programFolder / (std::string(style) + std::string(kTemplateExtension));
}

}  // namespace fetchora

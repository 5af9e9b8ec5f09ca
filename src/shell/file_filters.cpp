#include "shell/file_filters.h"

#include "lang/string_table.h"

namespace fetchora {

namespace {

std::string patternsShown(std::string_view patterns)
{
    std::string shown;
    for (const char c : patterns)
        shown += c == ';' ? std::string("; ") : std::string(1, c);
    return shown;
}

}  // namespace

std::string fileFilter(std::initializer_list<FileFilterEntry> entries)
{
    std::string filter;
    auto add = [&filter](std::string_view label, std::string_view patterns) {
        filter.append(label).append(" (").append(patternsShown(patterns)).append(")|");
        filter.append(patterns).append("|");
    };
    for (const FileFilterEntry& entry : entries)
        add(entry.label, entry.patterns);
    add(builtinString(kStrAllFiles), "*.*");
    return filter + "|";
}

std::string databaseFileFilter()
{
    return fileFilter({{std::string(builtinString(kStrFetchoraFiles)), "*.kxd"}});
}

std::string urlListFileFilter()
{
    return fileFilter({{std::string(builtinString(kStrUrlListFiles)), "*.lst"}});
}

std::string fileOfTypeFilter(std::string_view extension)
{
    if (extension.empty() || extension.find_first_of("|;*?[]() ") != std::string_view::npos)
        return fileFilter({});
    const std::string patterns = "*." + std::string(extension);
    return fileFilter({{builtinText(kStrFileOfType, {extension}), patterns}});
}

std::string htmlFileFilter()
{
    return fileFilter({{std::string(builtinString(kStrHtmlFiles)), "*.htm;*.html"}});
}

}  // namespace fetchora

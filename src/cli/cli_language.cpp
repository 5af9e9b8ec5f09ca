#include "cli/cli_language.h"

#include <memory>

#include "lang/current_language.h"
#include "lang/language_catalog.h"
#include "platform/paths.h"

namespace fetchora {

bool useCliLanguage(const std::string& code)
{
    if (code.empty())
        return true;
    std::vector<std::string> folders;
    if (const FolderResult profile = profileFolder(); profile)
        folders.push_back((profile.path / "language").string());
    folders.push_back((programFolder() / "language").string());
    const std::vector<LanguageEntry> entries = listLanguageFiles(folders);
    const auto found = findLanguageCode(entries, code);
    if (!found)
        return false;
    auto file = LanguageFile::load(entries[*found].path);
    if (!file)
        return false;
    auto language = std::make_unique<ActiveLanguage>();
    language->file = std::move(*file);
    language->fileName = entries[*found].fileName;
    language->rightToLeft = isRightToLeftFile(language->fileName);
    setCurrentLanguage(std::move(language));
    return true;
}

}  // namespace fetchora

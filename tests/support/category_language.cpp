#include "support/category_language.h"

#include "lang/language_file.h"

namespace fetchora::test {

std::unique_ptr<ActiveLanguage> languageOf(const std::string& strings)
{
    auto language = std::make_unique<ActiveLanguage>();
    language->file = LanguageFile::parse("[String]\n" + strings);
    return language;
}

std::vector<std::string> filedCategoryNames(CZoviradDoc& doc)
{
    std::vector<std::string> names;
    for (DownloadJob* node = doc.downloaded()->firstChild(); node; node = node->nextSibling())
        if (node->IsCategory())
            names.push_back(node->name);
    return names;
}

}  // namespace fetchora::test

#include "shell/category_names.h"

#include <string_view>

#include "lang/string_table.h"
#include "model/job_database.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

// The items of a comma list, trimmed, empty ones kept so that positions match.
std::vector<std::string> listItems(std::string_view list)
{
    std::vector<std::string> items;
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = list.find(',', from);
        items.emplace_back(trimBoth(
            list.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from), kSpaceTab));
        if (comma == std::string_view::npos)
            break;
        from = comma + 1;
    }
    return items;
}

}  // namespace

std::vector<std::string> defaultCategoryNames()
{
    std::vector<std::string> names = listItems(englishString(kStrDefaultCategories));
    const std::vector<std::string> shown = listItems(builtinString(kStrDefaultCategories));
    for (size_t i = 0; i < names.size() && i < shown.size(); ++i) {
        if (!shown[i].empty())
            names[i] = shown[i];
    }
    return names;
}

CategoryNames::CategoryNames() : m_shown(defaultCategoryNames())
{
}

bool CategoryNames::retext(CZoviradDoc& doc, JobLock& jobLock)
{
    const std::vector<std::string> english = listItems(englishString(kStrDefaultCategories));
    const std::vector<std::string> now = defaultCategoryNames();
    bool changed = false;
    {
        JobLockGuard lock(jobLock);
        doc.RefreshSpecialNames();
        DownloadJob* downloaded = doc.downloaded();
        for (DownloadJob* node = downloaded != nullptr ? downloaded->firstChild() : nullptr; node != nullptr;
             node = node->nextSibling()) {
            if (!node->IsCategory() || node->IsSpecialCategory())
                continue;
            for (size_t i = 0; i < now.size(); ++i) {
                const bool unrenamed = (i < m_shown.size() && node->name == m_shown[i])
                    || (i < english.size() && node->name == english[i]);
                if (!unrenamed)
                    continue;
                if (node->name != now[i]) {
                    node->name = now[i];
                    changed = true;
                }
                break;
            }
        }
    }
    m_shown = now;
    return changed;
}

}  // namespace fetchora

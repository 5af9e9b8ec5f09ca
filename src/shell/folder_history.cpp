#include "shell/folder_history.h"

#include <algorithm>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

constexpr RecentList kFolders{kFolderHistorySection, "Recent", kFolderHistorySize};

std::string entryName(const RecentList& list, size_t index)
{
    return std::string(list.prefix) + std::to_string(index + 1);
}

}  // namespace

std::vector<std::string> ReadRecentList(const Registry& registry, const RecentList& list)
{
    const std::string key = settingsKey(list.section);
    std::vector<std::string> entries;
    for (size_t i = 0; i < list.size; ++i) {
        std::optional<std::string> entry = registry.readString(Hive::CurrentUser, key, entryName(list, i));
        if (!entry || entry->empty())
            break;
        if (std::find(entries.begin(), entries.end(), *entry) == entries.end())
            entries.push_back(std::move(*entry));
    }
    return entries;
}

void RememberInRecentList(Registry& registry, const RecentList& list, std::string_view entry)
{
    if (entry.empty() || list.size == 0)
        return;
    std::vector<std::string> entries = ReadRecentList(registry, list);
    entries.erase(std::remove(entries.begin(), entries.end(), entry), entries.end());
    entries.insert(entries.begin(), std::string(entry));
    if (entries.size() > list.size)
        entries.resize(list.size);
    const std::string key = settingsKey(list.section);
    for (size_t i = 0; i < entries.size(); ++i)
        registry.writeString(Hive::CurrentUser, key, entryName(list, i), entries[i]);
}

std::vector<std::string> ReadFolderHistory(const Registry& registry)
{
    return ReadRecentList(registry, kFolders);
}

void RememberFolder(Registry& registry, std::string_view folder)
{
    RememberInRecentList(registry, kFolders, folder);
}

}  // namespace fetchora

#include "shell/folder_history.h"

#include <algorithm>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

std::string entryName(size_t index)
{
    return "Recent" + std::to_string(index + 1);
}

}  // namespace

std::vector<std::string> ReadFolderHistory(const Registry& registry)
{
    const std::string key = settingsKey(kFolderHistorySection);
    std::vector<std::string> folders;
    for (size_t i = 0; i < kFolderHistorySize; ++i) {
        std::optional<std::string> folder = registry.readString(Hive::CurrentUser, key, entryName(i));
        if (!folder || folder->empty())
            break;
        if (std::find(folders.begin(), folders.end(), *folder) == folders.end())
            folders.push_back(std::move(*folder));
    }
    return folders;
}

void RememberFolder(Registry& registry, std::string_view folder)
{
    if (folder.empty())
        return;
    std::vector<std::string> folders = ReadFolderHistory(registry);
    folders.erase(std::remove(folders.begin(), folders.end(), folder), folders.end());
    folders.insert(folders.begin(), std::string(folder));
    if (folders.size() > kFolderHistorySize)
        folders.resize(kFolderHistorySize);
    const std::string key = settingsKey(kFolderHistorySection);
    for (size_t i = 0; i < folders.size(); ++i)
        registry.writeString(Hive::CurrentUser, key, entryName(i), folders[i]);
}

}  // namespace fetchora

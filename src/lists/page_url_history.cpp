#include "lists/page_url_history.h"

#include <algorithm>

#include "config/list_registry.h"
#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

std::string valueName(std::size_t index)
{
    return "List" + std::to_string(index);
}

}  // namespace

void PageUrlHistory::Load(const Registry& registry)
{
    m_entries.clear();
    for (std::size_t i = 0; i < kPageUrlHistorySize; ++i) {
        const std::string value = readListText(registry, kPageUrlHistorySection, valueName(i));
        if (value.empty() || std::find(m_entries.begin(), m_entries.end(), value) != m_entries.end())
            continue;
        m_entries.push_back(value);
    }
}

void PageUrlHistory::Save(Registry& registry) const
{
    for (std::size_t i = 0; i < kPageUrlHistorySize; ++i) {
        if (i < m_entries.size())
            writeListText(registry, kPageUrlHistorySection, valueName(i), m_entries[i]);
        else
            registry.deleteValue(Hive::CurrentUser, settingsKey(kPageUrlHistorySection), valueName(i));
    }
}

void PageUrlHistory::Add(std::string_view url)
{
    const std::string_view text = trimBoth(url, kSpaceTab);
    if (text.empty())
        return;
    const auto old = std::find(m_entries.begin(), m_entries.end(), text);
    if (old != m_entries.end())
        m_entries.erase(old);
    m_entries.insert(m_entries.begin(), std::string(text));
    if (m_entries.size() > kPageUrlHistorySize)
        m_entries.resize(kPageUrlHistorySize);
}

}  // namespace fetchora

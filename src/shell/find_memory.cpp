#include "shell/find_memory.h"

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

constexpr uint32_t kFieldBits = kFindByName | kFindByUrl | kFindByComment;

}  // namespace

uint32_t ReadFindFlags(const Registry& registry)
{
    return registry.readDword(Hive::CurrentUser, settingsKey(kFindSection), "Flags").value_or(kFindDefaultFlags);
}

void ApplyFindFlags(uint32_t flags, FindRequest& request)
{
    request.name = (flags & kFindByName) != 0;
    request.url = (flags & kFindByUrl) != 0;
    request.comment = (flags & kFindByComment) != 0;
}

std::vector<std::string> ReadFindHistory(const Registry& registry)
{
    return ReadRecentList(registry, kFindHistory);
}

void RememberFind(Registry& registry, const FindRequest& request)
{
    uint32_t flags = ReadFindFlags(registry) & ~kFieldBits;
    if (request.name)
        flags |= kFindByName;
    if (request.url)
        flags |= kFindByUrl;
    if (request.comment)
        flags |= kFindByComment;
    registry.writeDword(Hive::CurrentUser, settingsKey(kFindSection), "Flags", flags);
    RememberInRecentList(registry, kFindHistory, request.text);
}

}  // namespace fetchora

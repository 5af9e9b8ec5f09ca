#include "shell/kxd_association.h"

namespace fetchora {

namespace {

constexpr std::string_view kShellNew = ".kxd\\ShellNew";

std::string subkey(std::string_view parent, std::string_view child)
{
    return std::string(parent) + "\\" + std::string(child);
}

// Whether ".kxd" is free for us or already ours.
bool extensionIsOurs(const Registry& registry)
{
    std::optional<std::string> owner = registry.readString(Hive::ClassesRoot, kDocumentExtension, "");
    return !owner || owner->empty() || *owner == kDocumentProgId;
}

std::string quotedIfBlank(const std::string& path)
{
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

}  // namespace

bool DeleteKeyWithEmptyParents(Registry& registry, Hive hive, std::string_view key)
{
    if (!registry.deleteKeyTree(hive, key))
        return false;
    std::string parent(key);
    for (;;) {
        const size_t cut = parent.rfind('\\');
        if (cut == std::string::npos)
            break;
        parent.resize(cut);
        // A key that held nothing but the deleted one is gone with it in this
        // store; its own parent is looked at all the same.
        if (!registry.subkeyNames(hive, parent).empty())
            break;
        registry.deleteKeyTree(hive, parent);
    }
    return true;
}

void WriteKxdAssociation(Registry& registry, RegistrationMode mode, const std::string& programPath)
{
    if (mode == RegistrationMode::Uninstall) {
        DeleteKeyWithEmptyParents(registry, Hive::ClassesRoot, subkey(kDocumentProgId, "DefaultIcon"));
        DeleteKeyWithEmptyParents(registry, Hive::ClassesRoot, subkey(kDocumentProgId, "shell\\open\\command"));
        if (extensionIsOurs(registry)) {
            DeleteKeyWithEmptyParents(registry, Hive::ClassesRoot, kShellNew);
            DeleteKeyWithEmptyParents(registry, Hive::ClassesRoot, kDocumentExtension);
        }
        return;
    }
    if (mode == RegistrationMode::Install)
        registry.deleteKeyTree(Hive::ClassesRoot, kShellNew);

    const std::string program = quotedIfBlank(programPath);
    registry.writeString(Hive::ClassesRoot, kDocumentProgId, "", kDocumentDescription);
    registry.writeString(Hive::ClassesRoot, subkey(kDocumentProgId, "DefaultIcon"), "", program + ",1");
    registry.writeString(Hive::ClassesRoot, subkey(kDocumentProgId, "shell\\open\\command"), "",
                         program + " \"%1\"");
    if (extensionIsOurs(registry))
        registry.writeString(Hive::ClassesRoot, kDocumentExtension, "", kDocumentProgId);
}

void RemoveSettingsTree(Registry& registry)
{
    registry.deleteKeyTree(Hive::CurrentUser, kSettingsRoot);
}

}  // namespace fetchora

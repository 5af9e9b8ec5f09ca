#pragma once
// The ".kxd" file association in the settings store's HKEY_CLASSES_ROOT, and
// the removal of the program's settings at uninstall.
//
// Normal start and install write the document type "Fetchora.Document" (its
// description, icon and open command) and claim ".kxd" only when no other
// program owns it (its default value missing, empty or already ours).
// Uninstall removes the icon and command keys, and ".kxd" only when it is
// ours; every deletion also removes the parent keys it leaves without
// subkeys.
//
// Thread: loop thread (the store is not thread-safe). Borrows the store.
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "shell/startup_command_line.h"

namespace fetchora {

inline constexpr std::string_view kDocumentProgId = "Fetchora.Document";
inline constexpr std::string_view kDocumentDescription = "Fetchora Download Database";
inline constexpr std::string_view kDocumentExtension = ".kxd";

// programPath: the executable; it is quoted in the open command when it
// holds a blank, so that the command still splits where it should.
void WriteKxdAssociation(Registry& registry, RegistrationMode mode, const std::string& programPath);

// Deletes the key with its subtree, then each parent up the path that is left
// without subkeys, stopping at the first that still has one. False when the
// key itself did not exist.
bool DeleteKeyWithEmptyParents(Registry& registry, Hive hive, std::string_view key);

// Uninstall: the whole settings tree, Software\Korvex\Korvex with every
// subkey (proxies, site rules, download rules).
void RemoveSettingsTree(Registry& registry);

}  // namespace fetchora

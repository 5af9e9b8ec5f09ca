#include "shell/kxd_association.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

constexpr Hive kCr = Hive::ClassesRoot;

std::string defaultValue(const Registry& registry, std::string_view key)
{
    return registry.readString(kCr, key, "").value_or("<none>");
}

TEST(KxdAssociation, ANormalStartWritesTheDocumentTypeAndClaimsAFreeExtension)
{
    Registry registry;
    WriteKxdAssociation(registry, RegistrationMode::Normal, "/opt/fetchora/bin/fetchora");
    EXPECT_EQ(defaultValue(registry, "Fetchora.Document"), "Fetchora Download Database");
    EXPECT_EQ(defaultValue(registry, "Fetchora.Document\\DefaultIcon"), "/opt/fetchora/bin/fetchora,1");
    EXPECT_EQ(defaultValue(registry, "Fetchora.Document\\shell\\open\\command"), "/opt/fetchora/bin/fetchora \"%1\"");
    EXPECT_EQ(defaultValue(registry, ".kxd"), "Fetchora.Document");

    // A program path with a blank stays one word of the command.
    WriteKxdAssociation(registry, RegistrationMode::Normal, "/opt/my apps/fetchora");
    EXPECT_EQ(defaultValue(registry, "Fetchora.Document\\shell\\open\\command"), "\"/opt/my apps/fetchora\" \"%1\"");
}

TEST(KxdAssociation, AnotherProgramsExtensionIsLeftAloneAtStartAndAtUninstall)
{
    Registry registry;
    registry.writeString(kCr, ".kxd", "", "Other.Program");
    registry.writeString(kCr, ".kxd\\ShellNew", "NullFile", "");
    WriteKxdAssociation(registry, RegistrationMode::Normal, "/usr/bin/fetchora");
    EXPECT_EQ(defaultValue(registry, ".kxd"), "Other.Program");

    WriteKxdAssociation(registry, RegistrationMode::Uninstall, "/usr/bin/fetchora");
    EXPECT_EQ(defaultValue(registry, ".kxd"), "Other.Program");
    EXPECT_TRUE(registry.keyExists(kCr, ".kxd\\ShellNew"));
    EXPECT_FALSE(registry.keyExists(kCr, "Fetchora.Document\\DefaultIcon"));
    EXPECT_FALSE(registry.keyExists(kCr, "Fetchora.Document\\shell"));
}

TEST(KxdAssociation, UninstallRemovesOurKeysWithTheParentsTheyLeaveEmpty)
{
    Registry registry;
    registry.writeString(kCr, "Unrelated\\Key", "", "stays");
    registry.writeString(kCr, ".kxd", "", "");
    WriteKxdAssociation(registry, RegistrationMode::Install, "/usr/bin/fetchora");
    registry.writeString(kCr, ".kxd\\ShellNew", "NullFile", "");
    ASSERT_EQ(defaultValue(registry, ".kxd"), "Fetchora.Document");

    WriteKxdAssociation(registry, RegistrationMode::Uninstall, "/usr/bin/fetchora");
    EXPECT_FALSE(registry.keyExists(kCr, "Fetchora.Document"));
    EXPECT_FALSE(registry.keyExists(kCr, ".kxd"));
    EXPECT_EQ(defaultValue(registry, "Unrelated\\Key"), "stays");
}

TEST(KxdAssociation, InstallDropsTheShellNewKeyButKeepsTheExtension)
{
    Registry registry;
    registry.writeString(kCr, ".kxd\\ShellNew", "NullFile", "");
    WriteKxdAssociation(registry, RegistrationMode::Install, "/usr/bin/fetchora");
    EXPECT_FALSE(registry.keyExists(kCr, ".kxd\\ShellNew"));
    EXPECT_EQ(defaultValue(registry, ".kxd"), "Fetchora.Document");
}

TEST(KxdAssociation, DeletingStopsAtTheFirstParentThatStillHasASubkey)
{
    Registry registry;
    registry.writeString(kCr, "A\\B\\C\\D", "", "x");
    registry.writeString(kCr, "A\\Other", "", "y");
    registry.writeString(kCr, "A\\B", "value", "kept with B until B is empty");
    EXPECT_TRUE(DeleteKeyWithEmptyParents(registry, kCr, "A\\B\\C\\D"));
    EXPECT_FALSE(registry.keyExists(kCr, "A\\B"));
    EXPECT_TRUE(registry.keyExists(kCr, "A"));
    EXPECT_EQ(defaultValue(registry, "A\\Other"), "y");
    EXPECT_FALSE(DeleteKeyWithEmptyParents(registry, kCr, "A\\B\\C\\D"));
}

TEST(KxdAssociation, RemovingTheSettingsTreeTakesEverySubkeyAndNothingElse)
{
    Registry registry;
    registry.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Connection", "SimJobs", 5);
    registry.writeString(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy\\0", "Server", "p");
    registry.writeString(Hive::CurrentUser, "Software\\Other", "x", "y");
    RemoveSettingsTree(registry);
    EXPECT_FALSE(registry.keyExists(Hive::CurrentUser, "Software\\Korvex\\Korvex"));
    EXPECT_TRUE(registry.keyExists(Hive::CurrentUser, "Software\\Other"));
}

}  // namespace
}  // namespace fetchora

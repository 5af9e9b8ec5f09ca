#include "shell/browser_hosts.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/browser_host_setup.h"
#include "support/temp_dir.h"

#include <sstream>

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class BrowserHosts : public testing::Test {
protected:
    void SetUp() override
    {
        // Firefox and Chromium have run for this user; the other browsers have not.
        fs::create_directories(m_dir / "home/.mozilla/firefox");
        fs::create_directories(m_dir / "home/.config/chromium/Default");
        fs::create_directories(m_dir / "bin");
        test::writeFile(m_dir / "bin/fetchora-host", "#!/bin/sh\n");
        fs::permissions(m_dir / "bin/fetchora-host", fs::perms::owner_all);
    }
    Environment env() const { return mapEnvironment({{"HOME", (m_dir / "home").string()}}); }
    json manifestAt(const std::string& relative) const { return json::parse(test::readFile(m_dir / relative)); }

    test::TempDir m_dir;
};

TEST_F(BrowserHosts, PerUserManifestsGoOnlyToBrowsersThatAreThereEachOfItsKind)
{
    const BrowserHostReport report
        = InstallBrowserHosts(UserBrowserHostFolders(env()), m_dir / "bin/fetchora-host", true);
    EXPECT_TRUE(report.ok);
    ASSERT_EQ(report.lines.size(), 2u);

    const json firefox = manifestAt("home/.mozilla/native-messaging-hosts/org.fetchora.host.json");
    EXPECT_EQ(firefox["name"], "org.fetchora.host");
    EXPECT_EQ(firefox["type"], "stdio");
    EXPECT_EQ(firefox["path"], (m_dir / "bin/fetchora-host").string());
    EXPECT_EQ(firefox["allowed_extensions"], json::array({"fetchora@fetchora.org"}));
    EXPECT_FALSE(firefox.contains("allowed_origins"));

    const json chromium = manifestAt("home/.config/chromium/NativeMessagingHosts/org.fetchora.host.json");
    EXPECT_EQ(chromium["allowed_origins"], json::array({"chrome-extension://defgalnopfgnmjhkhgbpdgpanmdphfli/"}));
    EXPECT_FALSE(chromium.contains("allowed_extensions"));
    EXPECT_FALSE(fs::exists(m_dir / "home/.config/google-chrome"));
    EXPECT_FALSE(fs::exists(m_dir / "home/.config/BraveSoftware"));
}

TEST_F(BrowserHosts, UninstallRemovesOurManifestsAndNothingElse)
{
    const std::vector<BrowserHostFolder> folders = UserBrowserHostFolders(env());
    ASSERT_TRUE(InstallBrowserHosts(folders, m_dir / "bin/fetchora-host", true).ok);
    test::writeFile(m_dir / "home/.mozilla/native-messaging-hosts/other.host.json", "{}");
    const BrowserHostReport report = UninstallBrowserHosts(folders);
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.lines.size(), 2u);
    EXPECT_FALSE(fs::exists(m_dir / "home/.mozilla/native-messaging-hosts/org.fetchora.host.json"));
    EXPECT_FALSE(fs::exists(m_dir / "home/.config/chromium/NativeMessagingHosts/org.fetchora.host.json"));
    EXPECT_TRUE(fs::exists(m_dir / "home/.mozilla/native-messaging-hosts/other.host.json"));
    EXPECT_EQ(UninstallBrowserHosts(folders).lines.front(), "no browser host manifest of Fetchora was installed");
}

TEST_F(BrowserHosts, TheCommandWritesTheSystemFoldersAndTellsWhatASandboxedBrowserNeeds)
{
    fs::create_directories(m_dir / "home/.var/app/org.mozilla.firefox");
    BrowserHostSetupRequest request;
    request.hostProgram = m_dir / "bin/fetchora-host";
    request.env = env();
    request.systemWide = true;
    request.systemRoot = m_dir / "root";
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunBrowserHostSetup(request, out, err), 0) << err.str();
    for (const char* folder : {"usr/lib/mozilla", "usr/lib64/mozilla", "etc/chromium", "etc/opt/chrome", "etc/opt/edge",
                               "etc/opt/brave", "etc/opt/vivaldi"}) {
        SCOPED_TRACE(folder);
        const json manifest
            = manifestAt(std::string("root/") + folder + "/native-messaging-hosts/org.fetchora.host.json");
        EXPECT_EQ(manifest.contains("allowed_extensions"), std::string(folder).find("mozilla") != std::string::npos);
    }
    EXPECT_NE(out.str().find("Firefox is installed as a Flatpak (org.mozilla.firefox)"), std::string::npos);

    // Without the host program nothing is written.
    request.hostProgram = m_dir / "bin/missing-host";
    request.systemRoot = m_dir / "root2";
    EXPECT_EQ(RunBrowserHostSetup(request, out, err), 1);
    EXPECT_NE(err.str().find("missing-host is missing"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_dir / "root2"));
}

TEST_F(BrowserHosts, AFolderThatCannotBeWrittenIsReportedAndFailsTheCommand)
{
    // A file where the manifest folder should be.
    test::writeFile(m_dir / "home/.config/chromium/NativeMessagingHosts", "not a folder");
    const BrowserHostReport report
        = InstallBrowserHosts(UserBrowserHostFolders(env()), m_dir / "bin/fetchora-host", true);
    EXPECT_FALSE(report.ok);
    bool named = false;
    for (const std::string& line : report.lines)
        named = named || line.find("Chromium: cannot write") != std::string::npos;
    EXPECT_TRUE(named);
}

}  // namespace
}  // namespace fetchora

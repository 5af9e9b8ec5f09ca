// Logins kept only in a site rule: fetchora-cli fetches from nginx's Basic
// login and a pyftpdlib account with URLs that carry no credentials.
#include "config/app_settings.h"
#include "config/site_rules.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "support/cli_process.h"
#include "support/profile_settings.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fetchora {
namespace {

using test::PyftpdlibPeer;
using test::TempDir;

class CliSiteLogin : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
    }

    std::map<std::string, std::string> environment() const
    {
        return test::ownProfileEnvironment(m_dir.path());
    }

    // Stores one site rule in the profile's settings file.
    void addSiteRule(const std::string& mask, const std::string& user, const std::string& password, uint32_t flags)
    {
        ASSERT_TRUE(test::changeProfileSettings(m_dir / "home", m_dir / "settings-tmp", [&](AppSettings& settings) {
            SiteRule rule = newSiteRule(settings.proxies());
            rule.urlMask = mask;
            rule.userName = user;
            rule.password = password;
            rule.flags = flags;
            settings.siteRules().AddSiteRule(rule);
        }));
    }

    int download(const std::filesystem::path& folder, const std::string& url, std::string* log)
    {
        std::filesystem::create_directories(folder);
        return test::runCli({"-q", "-v", "-d", folder.string(), url}, environment(), m_dir.path(), log);
    }

    TempDir m_dir;
};

TEST_F(CliSiteLogin, HttpBasicLoginComesFromTheSiteRuleOnlyWhenItsFlagIsSet)
{
    test::NginxPeer nginx{{"DNS:localhost", "IP:127.0.0.1"},
                          "location /secret/ { alias $WWW/files/; auth_basic \"fetchora\"; "
                          "auth_basic_user_file $WWW/../htpasswd; }\n"};
    const auto htpasswd = nginx.www().parent_path() / "htpasswd";
    {
        std::ofstream out(htpasswd);
        out << "ruleuser:{PLAIN}rule-pw\n";
    }
    std::filesystem::permissions(htpasswd, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    const std::string site = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/secret/";

    // A rule that holds a login but does not ask for it: the server refuses.
    addSiteRule(site, "ruleuser", "rule-pw", kSiteDefaultFlags);
    std::string log;
    EXPECT_EQ(download(m_dir / "out" / "off", site + "small.txt", &log), 1) << log;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "off" / "small.txt"));

    // A fresh profile whose rule asks for the login, its mask written in
    // another case than the URL.
    std::filesystem::remove_all(m_dir / "home");
    std::filesystem::create_directories(m_dir / "home");
    addSiteRule("HTTP://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/SECRET/", "ruleuser", "rule-pw",
                kSiteDefaultFlags | kSiteLogin);
    EXPECT_EQ(download(m_dir / "out" / "on", site + "small.txt", &log), 0) << log;
    EXPECT_EQ(test::readFile(m_dir / "out" / "on" / "small.txt"), test::kSmallFileText);
    EXPECT_NE(log.find("Authorization: Basic ********"), std::string::npos) << log;
    EXPECT_EQ(log.find("rule-pw"), std::string::npos) << "the password never reaches the log";
}

TEST_F(CliSiteLogin, FtpAccountLoginComesFromTheSiteRule)
{
    PyftpdlibPeer ftp;
    const auto source = ftp.userRoot() / "private.bin";
    test::writePseudoRandomFile(source, 300 * 1024, 7);
    addSiteRule("ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/", PyftpdlibPeer::kFtpUser,
                PyftpdlibPeer::kFtpPassword, kSiteDefaultFlags | kSiteLogin);

    std::string log;
    EXPECT_EQ(download(m_dir / "out", "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/private.bin", &log), 0)
        << log;
    EXPECT_NE(log.find("sent USER " + std::string(PyftpdlibPeer::kFtpUser)), std::string::npos) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "private.bin"));
}

}  // namespace
}  // namespace fetchora

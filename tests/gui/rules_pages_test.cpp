// The proxy and login pages, the download rules and site properties dialogs:
// what they write to the settings, and that it survives a save and reload.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "config/app_settings.h"
#include "config/proxy_text_format.h"
#include "gui/download_rules_dialog.h"
#include "gui/login_page.h"
#include "gui/proxy_entry_dialog.h"
#include "gui/proxy_page.h"
#include "gui/site_properties_dialog.h"
#include "gui/site_rule_dialog.h"
#include "model/job_defaults.h"
#include "shell/application.h"
#include "shell/job_list_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::TempDir;

// Runs `answer` on the modal dialog of type D once the event loop turns.
template <class D> void whenModal(std::function<void(D&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        auto* modal = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!modal) {
            ADD_FAILURE() << "no modal dialog of the expected type";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                other->reject();
            return;
        }
        answer(*modal);
    });
}

class RulesPagesTest : public ::testing::Test {
protected:
    RulesPagesTest() { start(); }

    // A fresh Application over the same profile: what a restart would read.
    void start()
    {
        m_app.reset();
        m_app = std::make_unique<Application>(mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                                              {"TMPDIR", m_dir.path().string()},
                                                              {"HOME", m_dir.path().string()}}));
        std::string error;
        ASSERT_TRUE(m_app->start(error)) << error;
    }
    Application& app() { return *m_app; }
    AppSettings& settings() { return m_app->settings(); }

    bool applyPage(OptionsPage& page)
    {
        return app().changeSettings([&page](AppSettings& s) { page.apply(s); });
    }

    TempDir m_dir;
    std::unique_ptr<Application> m_app;
};

ProxyEntry proxy(const std::string& server, uint16_t port, uint16_t type, const std::string& user = {},
                 const std::string& password = {})
{
    ProxyEntry entry;
    entry.server = server;
    entry.port = port;
    entry.type = type;
    entry.userName = user;
    entry.password = password;
    entry.flags = kProxyPassive | kProxyNoCache | (user.empty() ? 0 : kProxyAuthenticate);
    return entry;
}

void expectSameEntry(const ProxyEntry& actual, const ProxyEntry& expected, size_t index)
{
    SCOPED_TRACE(testing::Message() << "entry " << index);
    EXPECT_EQ(actual.title, expected.title);
    EXPECT_EQ(actual.server, expected.server);
    EXPECT_EQ(actual.port, expected.port);
    EXPECT_EQ(actual.type, expected.type);
    EXPECT_EQ(actual.userName, expected.userName);
    EXPECT_EQ(actual.password, expected.password);
    EXPECT_EQ(actual.flags, expected.flags);
}

TEST_F(RulesPagesTest, ProxyPageEditsReachTheSettingsExactlyAndSurviveARestart)
{
    ASSERT_TRUE(app().changeSettings([](AppSettings& s) {
        s.proxies().AddProxy(proxy("a.example", 3128, kProxyHttpGet), false);
        s.proxies().AddProxy(proxy("b.example", 21, kProxyFtpOpen), false);
        s.proxies().AddProxy(proxy("c.example", 1080, kProxySocks5), false);
        s.proxies().setDefaultIndex(ProxyDefault::Http, 3);
        s.proxies().setDefaultIndex(ProxyDefault::Ftp, 2);
    }));
    const ProxyEntry* keptA = settings().proxies().ProxyAt(1);
    const ProxyEntry* keptC = settings().proxies().ProxyAt(3);

    ProxyPage page(app().jobLock());
    page.load(settings());
    ASSERT_EQ(page.list()->topLevelItemCount(), 4);
    EXPECT_EQ(page.httpDefaultBox()->currentIndex(), 3);

    // Add through the button and its dialog.
    whenModal<ProxyEntryDialog>([](ProxyEntryDialog& dialog) {
        dialog.titleEdit()->setText(QStringLiteral("Tunnel"));
        dialog.typeBox()->setCurrentIndex(dialog.typeBox()->findData(kProxyHttpConnect));
        dialog.serverEdit()->setText(QStringLiteral("d.example"));
        dialog.portEdit()->setText(QStringLiteral("8443"));
        dialog.authenticateBox()->setChecked(true);
        dialog.userEdit()->setText(QStringLiteral("ann"));
        dialog.passwordEdit()->setText(QStringLiteral("s3cret"));
        dialog.multiProxyBox()->setChecked(true);
        dialog.accept();
    });
    QTest::mouseClick(page.addButton(), Qt::LeftButton);
    ASSERT_EQ(page.entries().ProxyCount(), 5u);

    ProxyEntry edited = *page.entries().ProxyAt(1);
    edited.port = 8080;
    edited.title = "Office";
    ASSERT_TRUE(page.replaceEntry(1, edited));
    // Deleting the FTP default moves it to the direct connection; the HTTP
    // default after it follows its entry down.
    ASSERT_TRUE(page.removeEntry(2));
    EXPECT_EQ(page.ftpDefaultBox()->currentIndex(), 0);
    EXPECT_EQ(page.httpDefaultBox()->currentIndex(), 2);
    page.streamDefaultBox()->setCurrentIndex(3);
    page.useDefaultsBox()->setChecked(true);
    page.rollbackBox()->setValue(4096);

    // Nothing reaches the settings before apply.
    EXPECT_EQ(settings().proxies().ProxyCount(), 4u);
    EXPECT_EQ(settings().proxies().ProxyAt(1)->port, 3128);

    ASSERT_TRUE(applyPage(page));
    const ProxyList& live = settings().proxies();
    ASSERT_EQ(live.ProxyCount(), 4u);
    EXPECT_EQ(live.ProxyAt(1)->title, "Office");
    EXPECT_EQ(live.ProxyAt(1)->port, 8080);
    EXPECT_EQ(live.ProxyAt(2)->server, "c.example");
    EXPECT_EQ(live.ProxyAt(3)->server, "d.example");
    EXPECT_EQ(live.ProxyAt(3)->type, kProxyHttpConnect);
    EXPECT_EQ(live.ProxyAt(3)->flags, kProxyAuthenticate | kProxyPassive | kProxyNoCache | kProxyMultiProxy);
    EXPECT_EQ(live.defaultIndex(ProxyDefault::Http), 2);
    EXPECT_EQ(live.defaultIndex(ProxyDefault::Ftp), 0);
    EXPECT_EQ(live.defaultIndex(ProxyDefault::Stream), 3);
    EXPECT_NE(settings().GetOption(OptionId::UseDefaultProxies), 0);
    EXPECT_EQ(settings().GetOption(OptionId::ProxyRollback), 4096);
    // Kept entries are changed where they are: a running job's pointer to
    // them stays good.
    EXPECT_EQ(live.ProxyAt(1), keptA);
    EXPECT_EQ(live.ProxyAt(2), keptC);

    // A save and restart reads the same list back.
    std::vector<ProxyEntry> before;
    for (size_t i = 0; i < live.ProxyCount(); ++i)
        before.push_back(*live.ProxyAt(i));
    start();
    ASSERT_EQ(settings().proxies().ProxyCount(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        expectSameEntry(*settings().proxies().ProxyAt(i), before[i], i);
    EXPECT_EQ(settings().proxies().defaultIndex(ProxyDefault::Stream), 3);
    EXPECT_EQ(settings().GetOption(OptionId::ProxyRollback), 4096);
    EXPECT_NE(settings().GetOption(OptionId::UseDefaultProxies), 0);
}

TEST_F(RulesPagesTest, TheDirectConnectionStaysFirstAndALoadWithoutApplyChangesNothing)
{
    ProxyPage page(app().jobLock());
    page.load(settings());
    ASSERT_EQ(page.entries().ProxyCount(), 1u);
    const std::string directTitle = page.entries().ProxyAt(0)->title;
    page.list()->setCurrentItem(page.list()->topLevelItem(0));
    EXPECT_FALSE(page.deleteButton()->isEnabled());
    EXPECT_FALSE(page.removeEntry(0));

    ProxyEntry changed = proxy("x.example", 8080, kProxySocks5);
    changed.title = "Renamed";
    changed.flags = kProxyNoCache;
    ASSERT_TRUE(page.replaceEntry(0, changed));
    EXPECT_EQ(page.entries().ProxyAt(0)->type, kProxyDirect);
    EXPECT_EQ(page.entries().ProxyAt(0)->title, directTitle);
    EXPECT_EQ(page.entries().ProxyAt(0)->server, "");
    EXPECT_EQ(page.entries().ProxyAt(0)->flags, kProxyNoCache);

    page.addEntry(proxy("y.example", 3128, kProxyHttpGet));
    page.list()->setCurrentItem(page.list()->topLevelItem(1));
    EXPECT_TRUE(page.deleteButton()->isEnabled());
    page.rollbackBox()->setValue(8192);

    // The sheet was cancelled: the settings are as they were, and opening
    // the page again shows them.
    EXPECT_EQ(settings().proxies().ProxyCount(), 1u);
    EXPECT_EQ(settings().GetOption(OptionId::ProxyRollback), kRollbackDefault);
    page.load(settings());
    EXPECT_EQ(page.entries().ProxyCount(), 1u);
    EXPECT_EQ(page.rollbackBox()->value(), kRollbackDefault);
}

TEST_F(RulesPagesTest, ImportAddsTheProxiesOfAFileAndExportWritesWhatImportReadsBack)
{
    const auto file = m_dir / "proxies.txt";
    test::writeFile(file,
                    "a.example:3128@HTTP\r\n"
                    "b.example:8443@HTTP1:ann:pw\r\n"
                    "\r\n"
                    "c.example:1080@SOCKS5\n"
                    "a.example:3128@HTTP\r\n"
                    "d.example:21@FTP2");
    ProxyPage page(app().jobLock());
    page.load(settings());
    int added = -1;
    EXPECT_EQ(page.importFrom(QString::fromStdString(file.string()), &added), QString());
    // The repeated line is a duplicate and is left out.
    EXPECT_EQ(added, 4);
    ASSERT_EQ(page.entries().ProxyCount(), 5u);
    expectSameEntry(*page.entries().ProxyAt(2), proxy("b.example", 8443, kProxyHttpConnect, "ann", "pw"), 2);
    EXPECT_EQ(page.entries().ProxyAt(4)->type, kProxyFtpUserSpace);
    EXPECT_EQ(settings().proxies().ProxyCount(), 1u);

    const auto exported = m_dir / "out.txt";
    ASSERT_EQ(page.exportTo(QString::fromStdString(exported.string())), QString());
    EXPECT_EQ(test::readFile(exported),
              "a.example:3128@HTTP\r\n"
              "b.example:8443@HTTP1:ann:pw\r\n"
              "c.example:1080@SOCKS5\r\n"
              "d.example:21@FTP2\r\n");
    ProxyPage other(app().jobLock());
    other.load(settings());
    ASSERT_EQ(other.importFrom(QString::fromStdString(exported.string()), &added), QString());
    EXPECT_EQ(added, 4);
    ASSERT_EQ(other.entries().ProxyCount(), page.entries().ProxyCount());
    for (size_t i = 1; i < other.entries().ProxyCount(); ++i)
        expectSameEntry(*other.entries().ProxyAt(i), *page.entries().ProxyAt(i), i);

    // Importing the same file again adds nothing.
    ASSERT_EQ(other.importFrom(QString::fromStdString(exported.string()), &added), QString());
    EXPECT_EQ(added, 0);
    EXPECT_EQ(other.entries().ProxyCount(), 5u);

    // A list with only the direct connection has nothing to export and
    // leaves an existing file alone.
    const std::string written = test::readFile(exported);
    ProxyPage empty(app().jobLock());
    empty.load(settings());
    EXPECT_FALSE(empty.exportTo(QString::fromStdString(exported.string())).isEmpty());
    EXPECT_EQ(test::readFile(exported), written);
}

TEST_F(RulesPagesTest, AMalformedOrUnreadableImportFileNamesTheFileAndChangesNothing)
{
    ProxyPage page(app().jobLock());
    page.load(settings());
    page.addEntry(proxy("kept.example", 3128, kProxyHttpGet));

    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"no-port.txt", "a.example:3128@HTTP\r\nb.example@SOCKS5\r\n"},
        {"port-zero.txt", "a.example:0@HTTP\r\n"},
        {"no-tag.txt", "a.example:3128\r\n"},
        {"binary.txt", std::string("a.example:3128@HTTP\r\n\x01\x02\x7f", 24)},
        {"nothing.txt", "\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = m_dir / c.name;
        test::writeFile(file, c.bytes);
        int added = -1;
        const QString message = page.importFrom(QString::fromStdString(file.string()), &added);
        EXPECT_TRUE(message.contains(QString::fromStdString(file.string()))) << message.toStdString();
        EXPECT_EQ(added, 0);
        EXPECT_EQ(page.entries().ProxyCount(), 2u);
    }
    const QString missing = QString::fromStdString((m_dir / "missing.txt").string());
    EXPECT_TRUE(page.importFrom(missing).contains(missing));

    const auto large = m_dir / "large.txt";
    test::writeFile(large, std::string(kMaxProxyFileSize + 1, 'a'));
    EXPECT_TRUE(page.importFrom(QString::fromStdString(large.string())).contains(QStringLiteral("large.txt")));
    EXPECT_EQ(page.entries().ProxyCount(), 2u);
}

TEST_F(RulesPagesTest, SiteRulesKeepTheirProxiesWhenAnEarlierProxyIsDeleted)
{
    ASSERT_TRUE(app().changeSettings([](AppSettings& s) {
        s.proxies().AddProxy(proxy("gone.example", 3128, kProxyHttpGet), false);
        s.proxies().AddProxy(proxy("http.example", 8080, kProxyHttpGet), false);
        s.proxies().AddProxy(proxy("ftp.example", 21, kProxyFtpOpen), false);
        s.proxies().AddProxy(proxy("socks.example", 1080, kProxySocks5), false);
        SiteRule rule = newSiteRule(s.proxies());
        rule.urlMask = "http://a.example/";
        rule.proxy = packSiteProxies(2, 3, 4);
        s.siteRules().AddSiteRule(rule);
        rule.urlMask = "http://b.example/";
        rule.proxy = packSiteProxies(1, 1, 0);
        s.siteRules().AddSiteRule(rule);
    }));
    ProxyPage proxies(app().jobLock());
    LoginPage logins(app().jobLock());
    proxies.load(settings());
    logins.load(settings());
    ASSERT_TRUE(proxies.removeEntry(1));
    // The sheet applies every page; the login page did not touch the rules.
    ASSERT_TRUE(app().changeSettings([&](AppSettings& s) {
        proxies.apply(s);
        logins.apply(s);
    }));
    const auto serverAt = [this](size_t index) {
        const ProxyEntry* entry = settings().proxies().ProxyAt(index);
        return entry ? entry->server : std::string("(none)");
    };
    const SiteRule& a = *settings().siteRules().SiteRuleAt(0);
    EXPECT_EQ(serverAt(siteHttpProxy(a)), "http.example");
    EXPECT_EQ(serverAt(siteFtpProxy(a)), "ftp.example");
    EXPECT_EQ(serverAt(siteStreamProxy(a)), "socks.example");
    // A rule that named the deleted proxy falls back to a direct connection.
    EXPECT_EQ(settings().siteRules().SiteRuleAt(1)->proxy, packSiteProxies(0, 0, 0));
    const std::vector<int>& moved = proxies.renumbered();
    ASSERT_EQ(moved.size(), 5u);
    EXPECT_EQ(moved, (std::vector<int>{0, 0, 1, 2, 3}));
}

TEST(ProxyEntryDialogTest, RefusesABadPortOrAMissingServerAndKeepsFlagsItDoesNotShow)
{
    ProxyEntry entry = proxy("p.example", 3128, kProxyHttpGet);
    entry.flags |= 0x100;
    ProxyEntryDialog dialog(entry, false);
    for (const char* bad : {"0", "65536", "80a", "", "-1", "+80", " "}) {
        dialog.portEdit()->setText(QString::fromLatin1(bad));
        EXPECT_FALSE(dialog.validate().isEmpty()) << '"' << bad << '"';
    }
    dialog.portEdit()->setText(QStringLiteral("65535"));
    EXPECT_EQ(dialog.validate(), QString());
    dialog.serverEdit()->setText(QStringLiteral("  "));
    EXPECT_FALSE(dialog.validate().isEmpty());
    dialog.serverEdit()->setText(QStringLiteral("bad host"));
    EXPECT_FALSE(dialog.validate().isEmpty());
    dialog.serverEdit()->setText(QStringLiteral("proxy.example"));
    EXPECT_EQ(dialog.validate(), QString());
    EXPECT_EQ(dialog.entry().port, 65535);
    EXPECT_EQ(dialog.entry().flags, entry.flags);

    // What a type allows: SOCKS4 has no password, FTP proxies send no
    // no-cache headers, a direct connection has no server.
    dialog.authenticateBox()->setChecked(true);
    dialog.typeBox()->setCurrentIndex(dialog.typeBox()->findData(kProxySocks4));
    EXPECT_TRUE(dialog.userEdit()->isEnabled());
    EXPECT_FALSE(dialog.passwordEdit()->isEnabled());
    dialog.typeBox()->setCurrentIndex(dialog.typeBox()->findData(kProxyFtpSite));
    EXPECT_FALSE(dialog.noCacheBox()->isEnabled());
    EXPECT_TRUE(dialog.passwordEdit()->isEnabled());
    dialog.typeBox()->setCurrentIndex(dialog.typeBox()->findData(kProxyDirect));
    EXPECT_FALSE(dialog.serverEdit()->isEnabled());
    EXPECT_EQ(dialog.passwordEdit()->echoMode(), QLineEdit::Password);
}

TEST_F(RulesPagesTest, LoginPageRulesRoundTripThroughTheSettingsAndARestart)
{
    ASSERT_TRUE(app().changeSettings([](AppSettings& s) {
        s.proxies().AddProxy(proxy("a.example", 3128, kProxyHttpGet), false);
        s.proxies().AddProxy(proxy("b.example", 21, kProxyFtpOpen), false);
        SiteRule rule = newSiteRule(s.proxies());
        rule.urlMask = "http://one.example/";
        s.siteRules().AddSiteRule(rule);
        rule.urlMask = "ftp://two.example/";
        s.siteRules().AddSiteRule(rule);
    }));
    const SiteRule* keptTwo = settings().siteRules().SiteRuleAt(1);

    LoginPage page(app().jobLock());
    page.load(settings());
    ASSERT_EQ(page.list()->topLevelItemCount(), 2);

    // A new site through the dialog, as Add opens it.
    SiteRuleDialog dialog(page.newRule(), page.proxyNames());
    dialog.siteEdit()->setText(QStringLiteral("https://Three.example"));
    dialog.loginBox()->setChecked(true);
    dialog.userEdit()->setText(QStringLiteral("bob"));
    dialog.passwordEdit()->setText(QStringLiteral("hunter2"));
    dialog.unlimitedBox()->setChecked(false);
    dialog.connectionsBox()->setValue(4);
    dialog.httpProxyBox()->setCurrentIndex(1);
    dialog.ftpProxyBox()->setCurrentIndex(2);
    ASSERT_EQ(dialog.validate(), QString());
    page.addRule(dialog.rule());
    SiteRule two = page.rules()[1];
    two.flags |= kSiteOnePerFile;
    two.connection = 7;
    ASSERT_TRUE(page.replaceRule(1, two));
    ASSERT_TRUE(page.removeRule(0));
    // The password never shows in the list.
    for (int column = 0; column < page.list()->columnCount(); ++column)
        EXPECT_FALSE(page.list()->topLevelItem(1)->text(column).contains(QStringLiteral("hunter2")));
    EXPECT_EQ(settings().siteRules().SiteRuleCount(), 2u);

    ASSERT_TRUE(applyPage(page));
    const SiteRuleList& live = settings().siteRules();
    ASSERT_EQ(live.SiteRuleCount(), 2u);
    EXPECT_EQ(live.SiteRuleAt(0), keptTwo);
    EXPECT_EQ(live.SiteRuleAt(0)->connection, 7);
    EXPECT_EQ(live.SiteRuleAt(1)->urlMask, "https://Three.example/");
    EXPECT_EQ(live.FindSiteRule("HTTPS://THREE.EXAMPLE/file.zip"), live.SiteRuleAt(1));
    EXPECT_EQ(live.FindSiteRule("https://three.example.attacker.org/"), nullptr);

    start();
    const SiteRuleList& reloaded = settings().siteRules();
    ASSERT_EQ(reloaded.SiteRuleCount(), 2u);
    EXPECT_EQ(reloaded.SiteRuleAt(0)->urlMask, "ftp://two.example/");
    EXPECT_EQ(reloaded.SiteRuleAt(0)->flags, kSiteDefaultFlags | kSiteOnePerFile);
    EXPECT_EQ(reloaded.SiteRuleAt(0)->connection, 7);
    const SiteRule& three = *reloaded.SiteRuleAt(1);
    EXPECT_EQ(three.userName, "bob");
    EXPECT_EQ(three.password, "hunter2");
    EXPECT_EQ(three.flags, (kSiteDefaultFlags | kSiteLogin) & ~kSiteUnlimited);
    EXPECT_EQ(three.connection, 4);
    EXPECT_EQ(siteHttpProxy(three), 1);
    EXPECT_EQ(siteFtpProxy(three), 2);
    EXPECT_EQ(siteStreamProxy(three), 0);
}

TEST(SiteRuleDialogTest, ASiteMustBeADownloadableUrlAndCoversOnlyItsOwnHost)
{
    struct Case {
        const char* typed;
        const char* stored;  // empty: refused
    };
    const Case cases[] = {
        {"http://Example.com", "http://Example.com/"},
        {"  ftp://files.example:2121  ", "ftp://files.example:2121/"},
        {"http://example.com/pub/", "http://example.com/pub/"},
        {"www.example.com", ""},
        {"gopher://example.com/", ""},
        {"pnm://example.com/a", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(SiteRuleDialog::normalizedMask(QString::fromLatin1(c.typed)), c.stored);
        SiteRule rule;
        SiteRuleDialog dialog(rule, {QStringLiteral("Direct Connection")});
        dialog.siteEdit()->setText(QString::fromLatin1(c.typed));
        EXPECT_EQ(dialog.validate().isEmpty(), *c.stored != '\0');
    }
}

TEST_F(RulesPagesTest, ADownloadRuleAddedInTheDialogFilesANewJobIntoItsCategory)
{
    test::JobListTree tree;
    auto archives = std::make_unique<DownloadJob>();
    archives->name = "Archives";
    archives->nodeFlags = kNodeCategory;
    archives->saveFolder = "/data/archives";
    DownloadJob* category = tree.tree.Insert(tree.downloaded, std::move(archives));
    ASSERT_NE(category, nullptr);
    DownloadJob* root = tree.download->parent();

    whenModal<DownloadRulesDialog>([category](DownloadRulesDialog& dialog) {
        // Downloaded and its own category are offered; the special ones not.
        EXPECT_EQ(dialog.categoryBox()->count(), 2);
        dialog.addRule();
        QTest::keyClicks(dialog.valueEdit(), QStringLiteral(".ZIP;.R[0-9][0-9]"));
        dialog.categoryBox()->setCurrentIndex(dialog.categoryBox()->findData(category->id));
        dialog.addRule();
        QTest::keyClicks(dialog.valueEdit(), QStringLiteral("files.example"));
        dialog.conditionBox()->setCurrentIndex(dialog.conditionBox()->findData(kRuleFromSite));
        // The site rule goes first.
        EXPECT_TRUE(dialog.moveRule(1, -1));
        EXPECT_FALSE(dialog.moveRule(0, -1));
        dialog.accept();
    });
    ASSERT_TRUE(showDownloadRules(app(), root, nullptr));

    const auto fileJob = [&](const std::string& url) {
        DownloadJob job;
        job.url = url;
        job.fileName = url.substr(url.rfind('/') + 1);
        job.categoryId = kDownloadedCategoryId;
        job.saveFolder = "/home/user/Downloads";
        ApplyDownloadRules(settings().downloadRules(), job, tree.tree);
        return job.categoryId;
    };
    const auto check = [&] {
        const std::vector<DownloadRule>* rules = settings().downloadRules().DownloadRules();
        ASSERT_NE(rules, nullptr);
        ASSERT_EQ(rules->size(), 2u);
        EXPECT_EQ((*rules)[0].var1, "files.example");
        EXPECT_EQ((*rules)[0].name, "New download rule #2");
        EXPECT_EQ((*rules)[1].flags, kRuleEnabled | kRuleExtension);
        EXPECT_EQ(fileJob("http://other.example/a.zip"), category->id);
        EXPECT_EQ(fileJob("http://other.example/b.r01"), category->id);
        EXPECT_EQ(fileJob("http://other.example/c.r1"), kDownloadedCategoryId);
    };
    check();
    start();
    check();
}

TEST(DownloadRulesDialogTest, OkIsRefusedForAnEnabledRuleWithoutAValueOrCategory)
{
    test::JobListTree tree;
    DownloadRuleList rules;
    DownloadRulesDialog dialog(rules, tree.download->parent());
    dialog.show();
    dialog.addRule();
    EXPECT_FALSE(dialog.validate().isEmpty());
    QTest::keyClicks(dialog.valueEdit(), QStringLiteral(".ISO"));
    EXPECT_EQ(dialog.validate(), QString());
    EXPECT_EQ(dialog.rules().DownloadRules()->front().var1, ".ISO");
    DownloadRule orphan;
    orphan.flags = kRuleEnabled | kRuleFromSite;
    orphan.var1 = "example.com";
    orphan.var2 = "999";
    rules.AddDownloadRule(orphan);
    DownloadRulesDialog second(rules, tree.download->parent());
    EXPECT_FALSE(second.validate().isEmpty());
    second.enabledBox()->setChecked(false);
    EXPECT_EQ(second.validate(), QString());
    EXPECT_EQ(second.rules().DownloadRules()->front().flags, kRuleFromSite);
}

TEST_F(RulesPagesTest, SitePropertiesOpensTheRuleOfTheJobsHostOrANewOneForItsSite)
{
    ASSERT_TRUE(app().changeSettings([](AppSettings& s) {
        SiteRule rule = newSiteRule(s.proxies());
        rule.urlMask = "http://elsewhere.example/";
        s.siteRules().AddSiteRule(rule);
        rule.urlMask = "http://Files.Example/";
        rule.userName = "carol";
        s.siteRules().AddSiteRule(rule);
    }));
    DownloadJob job;
    job.url = "http://FILES.example/pub/a.zip";

    whenModal<SiteRuleDialog>([](SiteRuleDialog& dialog) {
        EXPECT_EQ(dialog.siteEdit()->text(), QStringLiteral("http://Files.Example/"));
        EXPECT_EQ(dialog.userEdit()->text(), QStringLiteral("carol"));
        dialog.userEdit()->setText(QStringLiteral("dave"));
        dialog.accept();
    });
    ASSERT_TRUE(showSiteProperties(app(), job, nullptr));
    ASSERT_EQ(settings().siteRules().SiteRuleCount(), 2u);
    EXPECT_EQ(settings().siteRules().SiteRuleAt(1)->userName, "dave");

    DownloadJob other;
    other.url = "http://user:pw@New.Example:8080/x/y.iso";
    const std::optional<SitePropertiesTarget> target = sitePropertiesFor(settings(), other);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->storedIndex, -1);
    EXPECT_EQ(target->rule.urlMask, "http://new.example:8080/");
    EXPECT_EQ(target->rule.userName, "");

    whenModal<SiteRuleDialog>([](SiteRuleDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(showSiteProperties(app(), other, nullptr));
    EXPECT_EQ(settings().siteRules().SiteRuleCount(), 2u);

    ASSERT_TRUE(storeSiteProperties(app(), *target, target->rule));
    start();
    ASSERT_EQ(settings().siteRules().SiteRuleCount(), 3u);
    EXPECT_EQ(settings().siteRules().SiteRuleAt(1)->userName, "dave");
    EXPECT_EQ(settings().siteRules().FindSiteRule("http://new.example:8080/z"), settings().siteRules().SiteRuleAt(2));
}

// Every control the user can reach carries a distinct id for the
// translation files, and Escape closes a dialog as Cancel.
void expectControlIds(const QWidget& top)
{
    std::set<int> seen;
    for (const QWidget* child : top.findChildren<QWidget*>()) {
        const bool input = qobject_cast<const QLineEdit*>(child) || qobject_cast<const QComboBox*>(child)
            || qobject_cast<const QAbstractButton*>(child) || qobject_cast<const QSpinBox*>(child)
            || qobject_cast<const QTreeWidget*>(child);
        // Parts of compound widgets (a spin box's own line edit) are not ours.
        if (!input || child->parentWidget() == nullptr || qobject_cast<const QSpinBox*>(child->parentWidget())
            || qobject_cast<const QComboBox*>(child->parentWidget()))
            continue;
        const QVariant id = child->property("controlId");
        EXPECT_TRUE(id.isValid()) << top.objectName().toStdString() << ": " << child->metaObject()->className();
        if (id.isValid()) {
            EXPECT_TRUE(seen.insert(id.toInt()).second) << "id " << id.toInt() << " twice";
        }
    }
    EXPECT_FALSE(top.objectName().isEmpty());

    // Tab moves through the fields in the order they are laid out, which is
    // the order their ids were given in.
    std::vector<int> chain;
    const QWidget* widget = &top;
    do {
        const QVariant id = widget->property("controlId");
        if (id.isValid() && id.toInt() >= 1000)
            chain.push_back(id.toInt());
        widget = widget->nextInFocusChain();
    } while (widget && widget != &top);
    EXPECT_FALSE(chain.empty());
    EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end())) << top.objectName().toStdString();
}

TEST_F(RulesPagesTest, ControlsCarryDistinctIdsAndEscapeCancels)
{
    ProxyPage proxyPage(app().jobLock());
    LoginPage loginPage(app().jobLock());
    EXPECT_STREQ(proxyPage.sectionName(), "Proxy_PPG");
    EXPECT_STREQ(loginPage.sectionName(), "Login_PPG");
    expectControlIds(proxyPage);
    expectControlIds(loginPage);
    test::JobListTree tree;
    DownloadRulesDialog rules(settings().downloadRules(), tree.download->parent());
    expectControlIds(rules);
    ProxyEntryDialog entry(proxy("p.example", 3128, kProxyHttpGet), false);
    expectControlIds(entry);
    SiteRuleDialog site(SiteRule{}, {QStringLiteral("Direct Connection")});
    expectControlIds(site);

    for (QDialog* dialog : std::initializer_list<QDialog*>{&rules, &entry, &site}) {
        dialog->show();
        QTest::keyClick(dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_FALSE(dialog->isVisible()) << dialog->objectName().toStdString();
    }
}

}  // namespace
}  // namespace fetchora

#include "shell/startup_command_line.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using Mode = RegistrationMode;

TEST(StartupCommandLine, SwitchWordsSelectTheRegistrationModeInAnyCaseAfterDashOrSlash)
{
    struct Case {
        std::string word;
        Mode mode;
    };
    for (const Case& c : std::vector<Case>{{"-install", Mode::Install},
                                           {"/INSTALL", Mode::Install},
                                           {"-InStAlL", Mode::Install},
                                           {"-uninstall", Mode::Uninstall},
                                           {"/Uninstall", Mode::Uninstall},
                                           {"-installx", Mode::Normal},
                                           {"-", Mode::Normal},
                                           {"--install", Mode::Normal}}) {
        SCOPED_TRACE(c.word);
        StartupCommandLine line = ReadStartupCommandLine({c.word, "http://example.com/ref"});
        EXPECT_EQ(line.mode, c.mode);
        // A switch is never a URL, a referrer or a document.
        EXPECT_TRUE(line.startupUrl.empty());
        EXPECT_FALSE(line.hasReferer);
        EXPECT_TRUE(line.document.empty());
    }
}

TEST(StartupCommandLine, TheDesktopActionWordOpensTheAddSheetOnANormalStart)
{
    for (const std::string word : {"-new-download", "-NEW-DOWNLOAD"}) {
        SCOPED_TRACE(word);
        const StartupCommandLine line = ReadStartupCommandLine({word});
        EXPECT_EQ(line.mode, Mode::Normal);
        EXPECT_TRUE(line.newDownload);
        EXPECT_TRUE(line.document.empty());
        EXPECT_TRUE(line.startupUrl.empty());
    }
    // After "/" the word is a path on this system, and other words do not open it.
    EXPECT_FALSE(ReadStartupCommandLine({"/new-download"}).newDownload);
    EXPECT_EQ(ReadStartupCommandLine({"/new-download"}).document, "/new-download");
    EXPECT_FALSE(ReadStartupCommandLine({"-new-downloads"}).newDownload);
    EXPECT_FALSE(ReadStartupCommandLine({"http://example.com/new-download"}).newDownload);
}

TEST(StartupCommandLine, AUrlWithAReferrerIsTheStartupUrlAndNoDocument)
{
    StartupCommandLine line
        = ReadStartupCommandLine({"http://example.com/files/a.zip", "http://example.com/page.html", "extra"});
    EXPECT_EQ(line.mode, Mode::Normal);
    EXPECT_EQ(line.startupUrl, "http://example.com/files/a.zip");
    EXPECT_TRUE(line.hasReferer);
    EXPECT_EQ(line.referer, "http://example.com/page.html");
    EXPECT_TRUE(line.document.empty());

    line = ReadStartupCommandLine({"ftp://files.example.com/pub/x.iso"});
    EXPECT_EQ(line.startupUrl, "ftp://files.example.com/pub/x.iso");
    EXPECT_FALSE(line.hasReferer);
    EXPECT_TRUE(line.referer.empty());
}

TEST(StartupCommandLine, AnythingElseIsADocumentWhoseTextStillGoesToTheAddPath)
{
    for (const std::string text :
         {"/home/user/jobs.kxd", "jobs.kxd", "http:///no-host", "pnm://host/stream", "gopher://host/x"}) {
        SCOPED_TRACE(text);
        StartupCommandLine line = ReadStartupCommandLine({text, "http://example.com/"});
        EXPECT_EQ(line.mode, Mode::Normal);
        EXPECT_EQ(line.document, text);
        EXPECT_EQ(line.startupUrl, text);
        // Only a URL takes a referrer.
        EXPECT_FALSE(line.hasReferer);
    }
    StartupCommandLine none = ReadStartupCommandLine({});
    EXPECT_EQ(none.mode, Mode::Normal);
    EXPECT_TRUE(none.startupUrl.empty());
    EXPECT_TRUE(none.document.empty());
}

}  // namespace
}  // namespace fetchora

#include <filesystem>
#include <gtest/gtest.h>
#include <initializer_list>

#include "model/download_job.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

struct UrlName {
    const char* url;
    const char* name;
};

void expectDefaultNames(std::initializer_list<UrlName> cases)
{
    for (const UrlName& c : cases)
        EXPECT_EQ(DefaultNameFromUrl(c.url), c.name) << c.url;
}

TEST(DefaultNameFromUrl, TakesTheLastSegmentOfTheUrl)
{
    expectDefaultNames({
        {"http://h/pub/file.zip", "file.zip"},
        {"http://h/dir/", "index.htm"},
        {"http://h", "index.htm"},
        {"http://h/?a=1", "index.htm"},
        {"http://h/cgi/get.php?id=5&x=y", "get.php"},
        {"http://h/get.php?file=/mirror/pkg.tgz", "pkg.tgz"},
        {"http://h/a*b.zip", "a"},
        {"http://h/my%20file.zip", "my file.zip"},
        {"ftp://u:p@h/pub/name ", "name "},
        {"mms://h/live", "live_live.asf"},
        {"mmst://h/live", "live_live.asf"},
        {"mms://h/show.asf", "show.asf"},
        {"rtsp://h/live", "live"},
        {"not a url", ""},
    });
}

TEST(DefaultNameFromUrl, AnAmpersandAfterADottedNameEndsItExceptForFtp)
{
    expectDefaultNames({
        {"http://h/file.zip&session=1", "file.zip"},
        {"https://h/x.tar.gz&y=2", "x.tar.gz"},
        {"http://h/a.zip%26b", "a.zip"},
        // No dot before the "&", or the "&" first: the name stays whole.
        {"http://h/a&b", "a&b"},
        {"http://h/&x.zip", "&x.zip"},
        // FTP file names may hold "&".
        {"ftp://h/pub/file.zip&x", "file.zip&x"},
        {"mms://h/live&x", "live&x_live.asf"},
        {"mms://h/show.asf&x", "show.asf"},
    });
}

TEST(DefaultNameFromUrl, EncodedSeparatorsAndDotsNeverLeaveTheFolder)
{
    expectDefaultNames({
        {"http://h/..%2F..%2Fetc%2Fpasswd", "passwd"},
        {"http://h/%2E%2E", "__"},
        {"http://h/%2e", "_"},
        {"http://h/a%5C..%5C..%5Cb", "a_.._.._b"},
        {"http://h/x%00y", "x_y"},
        {"http://h/%0D%0Aevil", "__evil"},
        {"http://h/a%3Ab%7Cc", "a_b_c"},
    });
}

TEST(SanitizeFileName, MakesEveryNameOneSafeComponent)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"a/../../b", "a_.._.._b"},
        {"..", "__"},
        {".", "_"},
        {"...", "..."},
        {"", "index.htm"},
        {"dir\\..\\x", "dir_.._x"},
        {"tab\there\nnl", "tab_here_nl"},
        {std::string("nul\0byte", 8), "nul_byte"},
        {"what?.txt", "what_.txt"},
        {"a*b<c>d\"e|f:g", "a_b_c_d_e_f_g"},
        {"\xC3\xA9t\xC3\xA9.zip", "\xC3\xA9t\xC3\xA9.zip"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SanitizeFileName(c.in), c.out) << c.in;
}

TEST(SanitizeFileName, ShortensOverlongNamesKeepingExtensionAndUtf8)
{
    const std::string longAscii = SanitizeFileName(std::string(300, 'a') + ".zip");
    EXPECT_EQ(longAscii.size(), 255u);
    EXPECT_EQ(longAscii.substr(251), ".zip");

    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA9";
    const std::string cut = SanitizeFileName(accented);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.size() % 2, 0u) << "a two-byte character was split";
    EXPECT_EQ(static_cast<unsigned char>(cut.back()), 0xA9);
}

TEST(JoinPath, AddsOneSeparator)
{
    EXPECT_EQ(JoinPath("/dl", "a.zip"), "/dl/a.zip");
    EXPECT_EQ(JoinPath("/dl/", "a.zip"), "/dl/a.zip");
    EXPECT_EQ(JoinPath("", "a.zip"), "a.zip");
}

// Whatever name a server, a URL or a stored record hands us, the local path
// stays a direct child of the job's folder.
TEST(HostileNames, LocalPathStaysInsideTheJobFolder)
{
    test::TempDir dir;
    const fs::path folder = dir.path() / "jobs";
    const std::string hostile[] = {
        "../../etc/passwd",         "a/../../b", "..",           ".", "/etc/passwd", "..\\..\\windows", "sub/dir/file",
        std::string("x\0/../y", 7), "\r\n..",    "C:\\evil.exe", "",  "/",
    };
    for (const std::string& name : hostile) {
        DownloadJob fromUser;
        fromUser.saveFolder = folder.string();
        ASSERT_TRUE(fromUser.SetFileName(name));

        DownloadJob fromRecord;  // a stored record bypasses SetFileName
        fromRecord.saveFolder = folder.string();
        fromRecord.fileName = name;

        DownloadJob fromUrl;  // refused URLs (control characters) leave no name at all
        fromUrl.saveFolder = folder.string();
        fromUrl.SetUrl("http://h/" + name);

        for (const DownloadJob* job : {&fromUser, &fromRecord, &fromUrl}) {
            for (const fs::path& path : {fs::path(job->GetLocalPath()), fs::path(job->GetTempPath())}) {
                EXPECT_EQ(path.parent_path(), folder) << "name: " << name << " path: " << path;
                EXPECT_NE(path.filename(), "..");
                EXPECT_NE(path.filename(), ".");
                EXPECT_EQ(path.lexically_normal().parent_path(), folder.lexically_normal()) << path;
            }
        }
    }
}

}  // namespace
}  // namespace fetchora

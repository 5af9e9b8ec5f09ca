#include "explorer/small_file_links.h"

#include "model/download_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class SmallFileInspectorTest : public ::testing::Test {
protected:
    void SetUp() override { m_file = fs::temp_directory_path() / ("fetchora-small-" + std::to_string(::getpid())); }
    void TearDown() override { fs::remove(m_file); }
    void write(const std::string& text) { std::ofstream(m_file, std::ios::binary) << text; }

    // The redirect of a finished job for url whose download holds text.
    std::string redirect(const std::string& url, const std::string& text)
    {
        write(text);
        DownloadJob job;
        job.url = url;
        job.completedBytes = static_cast<int64_t>(text.size());
        return SmallFileRedirect(job, m_file, kMonitorLinkedFileCheck, m_inspector);
    }

    LinkSmallFileInspector m_inspector;
    fs::path m_file;
};

TEST_F(SmallFileInspectorTest, APageLinkingToTheSameFileNameElsewhereRedirects)
{
    const std::string page = "<html><a href=\"/get/tool.zip\">here</a> or "
                             "<a href=\"http://mirror.example/pub/tool.zip\">mirror</a></html>";
    EXPECT_EQ(redirect("http://host/get/tool.zip", page), "http://mirror.example/pub/tool.zip");
    EXPECT_EQ(redirect("http://host/dl/tool.zip", "<a href=tool.zip?id=3>x</a><a href=../files/tool.zip>y</a>"),
              "http://host/dl/tool.zip?id=3");
}

TEST_F(SmallFileInspectorTest, PagesWithoutSuchALinkAndNonPagesDoNotRedirect)
{
    EXPECT_EQ(redirect("http://host/tool.zip", "<a href=other.zip>o</a><a href=mailto:tool.zip>m</a>"), "");
    EXPECT_EQ(redirect("http://host/tool.zip", "<a href=tool.zip>self</a>"), "");
    EXPECT_EQ(redirect("http://host/tool.zip", "PK\x03\x04 binary archive without brackets"), "");
    // Not a linked-file type: the page is not read at all.
    EXPECT_EQ(redirect("http://host/notes.txt", "<a href=http://m/notes.txt>n</a>"), "");
}

TEST_F(SmallFileInspectorTest, APlayListNamesItsStream)
{
    EXPECT_EQ(redirect("http://host/clip.ram", "rtsp://media.example/clip.rm\r\n"), "rtsp://media.example/clip.rm");
    EXPECT_EQ(redirect("http://host/show.asx",
                       "<ASX version=\"3.0\"><MoreInfo href=\"http://host/about\"/>"
                       "<Entry><Ref href=\"MMS://media.example/show.wmv\"/></Entry></ASX>"),
              "MMS://media.example/show.wmv");
    EXPECT_EQ(redirect("http://host/list.smil", "<smil><audio src=\"http://media.example/a.mp3\"/></smil>"),
              "http://media.example/a.mp3");
    EXPECT_EQ(redirect("http://host/empty.ram", "# nothing here\n"), "");
    // A play list naming a refused scheme gives nothing.
    EXPECT_EQ(redirect("http://host/old.ram", "pnm://media.example/old.rm\n"), "");
}

TEST_F(SmallFileInspectorTest, UnreadableFilesGiveNothing)
{
    EXPECT_EQ(m_inspector.sameNameLink(m_file / "missing", "http://h/a.zip", "a.zip"), "");
    EXPECT_EQ(m_inspector.playListMedia(m_file / "missing", "http://h/a.ram"), "");
}

}  // namespace
}  // namespace fetchora

#include "engine/job_info_file.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

std::string ctimeOf(std::time_t when)
{
    char text[64];
    std::string out(ctime_r(&when, text));
    out.pop_back();
    return out;
}

TEST(JobInfoFileTest, WritesOneLabelledLinePerItemBesideTheDownload)
{
    test::TempDir dir;
    JobInfo info;
    info.displayName = "big.iso";
    info.url = "http://127.0.0.1:18080/files/big.iso";
    info.fileSize = 1'500'000;
    info.completedBytes = 1'500'000;
    info.createTime = 1000000000;
    info.completeTime = 1000003600;
    info.localPath = (dir / "big.iso").string();
    info.comment = "first line\r\nsecond line\nthird";
    info.referer = "http://127.0.0.1:18080/";

    ASSERT_TRUE(writeJobInfoFile(info));
    const std::string expected = "Name:big.iso\r\n"
                                 "URL:http://127.0.0.1:18080/files/big.iso\r\n"
                                 "Size:1,464KB\r\n"
                                 "Date:"
        + ctimeOf(1000000000)
        + "\r\n"
          "Complete Time:"
        + ctimeOf(1000003600)
        + "\r\n"
          "Save as:"
        + info.localPath
        + "\r\n"
          "Comment:first line second line third\r\n"
          "Referer:http://127.0.0.1:18080/\r\n";
    EXPECT_EQ(test::readFile(dir / "big.iso.log"), expected);
}

TEST(JobInfoFileTest, SizeShowsProgressWhenNotWhollyKnown)
{
    JobInfo info;
    info.completedBytes = 700;
    info.fileSize = -1;
    EXPECT_EQ(jobInfoSize(info), "700 / ?");
    info.fileSize = 900;
    EXPECT_EQ(jobInfoSize(info), "700 / 900");
    info.completedBytes = 900;
    EXPECT_EQ(jobInfoSize(info), "900");
    info.sizesInBytes = true;
    info.fileSize = info.completedBytes = 4096;
    EXPECT_EQ(jobInfoSize(info), "4096");
}

TEST(JobInfoFileTest, MissingTimesAreEmptyAndAnUnwritablePlaceFails)
{
    JobInfo info;
    info.displayName = "x";
    const std::string text = jobInfoText(info);
    EXPECT_NE(text.find("\r\nDate:\r\nComplete Time:\r\n"), std::string::npos);
    EXPECT_EQ(jobInfoPath("/tmp/a b.zip"), std::filesystem::path("/tmp/a b.zip.log"));

    EXPECT_FALSE(writeJobInfoFile(info));  // no local path
    test::TempDir dir;
    info.localPath = (dir / "no-such-folder" / "x").string();
    EXPECT_FALSE(writeJobInfoFile(info));
}

}  // namespace
}  // namespace fetchora

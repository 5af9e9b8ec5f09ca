#include "cli/job_json.h"

#include "lang/display_text.h"
#include "model/download_job.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(JobJson, WritesEveryContractFieldOnOneLine)
{
    DownloadJob job;
    job.id = 12;
    job.parentId = 2;
    job.url = "http://127.0.0.1/a \"b\".bin";
    job.fileName = "a.bin";
    job.fileSize = 5000000000LL;
    job.completedRanges = {{0, 100, 0, 0}, {4294967296LL, 4294967396LL, 0, 0}};
    job.completedBytes = 200;
    job.editTexts().comment = "line1\nline2\x01";
    job.alternateUrls = {{"ftp://127.0.0.1/a.bin", 0}};
    std::string line = jobJsonLine(job);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    for (const char* name : {"\"id\":12", "\"parentId\":2", "\"isCategory\":false", "\"kind\":", "\"name\":\"a.bin\"",
                             "\"url\":\"http://127.0.0.1/a \\\"b\\\".bin\"", "\"state\":1", "\"startMode\":0",
                             "\"fileSize\":5000000000", "\"completedBytes\":200",
                             "\"ranges\":[[0,100],[4294967296,4294967396]]", "\"saveFolder\":\"\"", "\"fileName\":\"a.bin\"",
                             "\"formatFlags\":13", "\"optionFlags\":0", "\"splitCount\":1", "\"categoryId\":3",
                             "\"comment\":\"line1\\nline2\\u0001\"", "\"referer\":\"\"",
                             "\"alternateUrls\":[\"ftp://127.0.0.1/a.bin\"]"}) {
        EXPECT_NE(line.find(name), std::string::npos) << name << " in " << line;
    }
}

TEST(DisplayText, KeepsUtf8AndDecodesWindows1252)
{
    EXPECT_EQ(displayText("plain"), "plain");
    EXPECT_EQ(displayText("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(displayText("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(displayText("\x80 5"), "\xE2\x82\xAC 5");
    EXPECT_EQ(displayText("\x81"), "\xEF\xBF\xBD");
    EXPECT_FALSE(isValidUtf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}

}  // namespace
}  // namespace fetchora

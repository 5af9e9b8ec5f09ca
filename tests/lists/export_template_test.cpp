#include "lists/export_template.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(ExportTemplate, ReadsTheFiveKeysOfTheFormatSection)
{
    const std::string ini = "; a style\r\n"
                            "[Other]\r\nITEM=wrong\r\n"
                            "[ format ]\r\n"
                            "F_START = <html>{F_ENTER}<body>\r\n"
                            "c_start=<h2>{C_NAME}</h2>\r\n"
                            "ITEM=\"<a href='{F_URL}'>{F_NAME}</a>\"\r\n"
                            "ITEM=second ignored\r\n"
                            "C_END=\r\n"
                            "F_END=</body></html>\n"
                            "[Tail]\r\nF_END=wrong\r\n";
    const ExportTemplate t = ParseExportTemplate(ini);
    EXPECT_EQ(t.fileStart, "<html>\r\n<body>");
    EXPECT_EQ(t.categoryStart, "<h2>{C_NAME}</h2>");
    EXPECT_EQ(t.item, "<a href='{F_URL}'>{F_NAME}</a>");
    EXPECT_EQ(t.categoryEnd, "");
    EXPECT_EQ(t.fileEnd, "</body></html>");
}

TEST(ExportTemplate, MissingKeysAndSectionAreEmpty)
{
    EXPECT_EQ(ParseExportTemplate("[Format]\nITEM=x\n").fileStart, "");
    const ExportTemplate none = ParseExportTemplate("ITEM=outside any section\n[Formats]\nITEM=y\n");
    EXPECT_EQ(none.item, "");
    const char junk[] = "\0\xff\x01[Other\n\xfe[Format]\nITEM=bad\n[Format]\x01\nITEM=\x02ok\n\0";
    const ExportTemplate binary = ParseExportTemplate(std::string(junk, sizeof junk - 1));
    EXPECT_EQ(binary.item, "\x02ok");
}

TEST(ExportTemplate, LongValuesAreCutAt2047BytesBeforeEnterIsReplaced)
{
    const std::string longValue(10 * 1024, 'x');
    EXPECT_EQ(ParseExportTemplate("[Format]\nITEM=" + longValue + "\n").item, std::string(2047, 'x'));
    EXPECT_EQ(ParseExportTemplate("[Format]\nITEM=" + std::string(2047, 'y') + "\n").item.size(), 2047u);

    // A {F_ENTER} that straddles the cut is no longer a token.
    const std::string straddling = std::string(2040, 'a') + "{F_ENTER}";
    EXPECT_EQ(ParseExportTemplate("[Format]\nF_END=" + straddling + "\n").fileEnd, std::string(2040, 'a') + "{F_ENTE");
    const std::string before = std::string(2038, 'a') + "{F_ENTER}";
    EXPECT_EQ(ParseExportTemplate("[Format]\nF_END=" + before + "\n").fileEnd, std::string(2038, 'a') + "\r\n");

    const std::string longKey(10 * 1024, 'K');
    const ExportTemplate t = ParseExportTemplate("[Format]\n" + longKey + "=v\nITEM=i\n");
    EXPECT_EQ(t.item, "i");
}

TEST(ExportTemplate, StylesAreTheKxsFilesOfTheProgramFolder)
{
    test::TempDir dir;
    test::writeFile(dir / "Simple.kxs", "[Format]\nITEM={F_NAME}\n");
    test::writeFile(dir / "Blue.KXS", "[Format]\n");
    test::writeFile(dir / "notes.txt", "x");
    std::filesystem::create_directory(dir / "dir.kxs");
    EXPECT_EQ(ListExportStyles(dir.path()), (std::vector<std::string>{"Blue", "Simple"}));

    const TemplateReadResult read = ReadExportTemplate(ExportStylePath(dir.path(), "Simple"));
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.format.item, "{F_NAME}");

    const TemplateReadResult missing = ReadExportTemplate(ExportStylePath(dir.path(), "Gone"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("Gone.kxs"), std::string::npos);
    EXPECT_TRUE(ListExportStyles(dir / "absent").empty());
}

}  // namespace
}  // namespace fetchora

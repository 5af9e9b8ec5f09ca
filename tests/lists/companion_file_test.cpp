#include "lists/companion_file.h"

#include <gtest/gtest.h>

#include "support/scoped_language.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

std::unique_ptr<DownloadJob> makeSampleJob()
{
    auto owned = std::make_unique<DownloadJob>();
    DownloadJob& job = *owned;
    job.SetUrl("http://example.com/dir/file.zip");
    job.referer = "http://example.com/";
    job.editTexts().comment = "a comment";
    job.saveFolder = "/somewhere";
    job.fileSize = 5000;
    job.optionFlags |= kOptSizeKnown | kOptResumeKnown | kOptResumable;
    job.SetCompleted(5000);
    job.SetState(JobState::Completed, false);
    job.completeTime = 123456;
    job.totalTime = 42;
    return owned;
}

TEST(CompanionFile, ExtensionIsRecognisedInAnyCase)
{
    EXPECT_TRUE(IsCompanionFile("/a/b.zip.kxe"));
    EXPECT_TRUE(IsCompanionFile("X.KXE"));
    EXPECT_TRUE(IsCompanionFile("x.Kxe"));
    EXPECT_FALSE(IsCompanionFile("x.kxe.zip"));
    EXPECT_FALSE(IsCompanionFile("kxe"));
    EXPECT_EQ(CompanionPathFor("/a/b.zip"), std::filesystem::path("/a/b.zip.kxe"));
}

TEST(CompanionFile, AJobWrittenIsReadBackWithItsHistory)
{
    test::TempDir dir;
    const auto owned = makeSampleJob();
    const DownloadJob& job = *owned;
    const auto data = dir / "file.zip";
    ASSERT_TRUE(WriteCompanionFile(data, job));
    const CompanionRead read = ReadCompanionFile(data, KxdLoadOptions{});
    ASSERT_EQ(read.status, CompanionStatus::Loaded) << read.error;
    ASSERT_TRUE(read.job);
    EXPECT_EQ(read.job->url, job.url);
    EXPECT_EQ(read.job->referer, job.referer);
    EXPECT_EQ(read.job->comment(), job.comment());
    EXPECT_EQ(read.job->fileSize, 5000);
    EXPECT_EQ(read.job->completedBytes, 5000);
    EXPECT_TRUE(read.job->IsComplete());
    EXPECT_EQ(read.job->completeTime, 123456);
    EXPECT_EQ(read.job->totalTime, 42);
    EXPECT_EQ(StoreCompanionJob(*read.job), StoreCompanionJob(job));
}

TEST(CompanionFile, MissingEmptyAndDamagedFilesAreToldApart)
{
    test::TempDir dir;
    const auto data = dir / "f.bin";
    EXPECT_EQ(ReadCompanionFile(data, {}).status, CompanionStatus::Missing);
    test::writeFile(CompanionPathFor(data), "");
    EXPECT_EQ(ReadCompanionFile(data, {}).status, CompanionStatus::Empty);

    const std::string whole = StoreCompanionJob(*makeSampleJob());
    ASSERT_GT(whole.size(), 20u);
    // Every truncation of a record is reported as damage, never loaded.
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        const CompanionRead read = LoadCompanionJob(std::string_view(whole).substr(0, cut), {});
        EXPECT_EQ(read.status, CompanionStatus::Damaged) << "cut at " << cut;
        EXPECT_FALSE(read.job);
        EXPECT_FALSE(read.error.empty());
    }
    EXPECT_EQ(LoadCompanionJob(whole + "x", {}).status, CompanionStatus::Damaged);

    DownloadJob category;
    category.nodeFlags = kNodeCategory;
    category.name = "C";
    KxdWriter writer;
    StoreNode(writer, category, false);
    EXPECT_EQ(LoadCompanionJob(writer.bytes(), {}).status, CompanionStatus::Damaged);

    test::writeFile(CompanionPathFor(data), whole.substr(0, whole.size() / 2));
    const CompanionRead damaged = ReadCompanionFile(data, {});
    EXPECT_EQ(damaged.status, CompanionStatus::Damaged);
    EXPECT_NE(damaged.error.find("f.bin.kxe"), std::string::npos) << damaged.error;
}

TEST(CompanionFile, HostileLengthsDoNotAllocateOrCrash)
{
    std::string bytes = StoreCompanionJob(*makeSampleJob());
    // Overwrite everything after the fixed header with 0xFF: lengths and
    // counts become huge.
    for (std::size_t i = 28; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(0xFF);
    EXPECT_EQ(LoadCompanionJob(bytes, {}).status, CompanionStatus::Damaged);
    std::string junk(4096, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 97 + 13) & 0xFF);
    EXPECT_NE(LoadCompanionJob(junk, {}).status, CompanionStatus::Loaded);
}

TEST(CompanionFile, WriteToAnUnwritablePlaceFailsWithAReason)
{
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(WriteCompanionFile(dir / "none" / "f.bin", *makeSampleJob(), &error));
    EXPECT_NE(error.find("f.bin.kxe"), std::string::npos) << error;
}

// Why a companion file cannot be used is made in the current language, with
// the file's name where the text has its place; a text the language lacks
// stays English.
TEST(CompanionFile, TheReasonsAreInTheCurrentLanguage)
{
    test::TempDir dir;
    test::ScopedLanguage german("41779=die Datei ist abgeschnitten\n"
                                "41780=die Datei enth\xC3\xA4lt keinen Auftrag\n"
                                "41782=auf den Auftrag folgen %1 Bytes\n"
                                "61731=%1 enth\xC3\xA4lt einen falschen Pfad.\n");
    EXPECT_EQ(LoadCompanionJob("ab", {}).error, "die Datei ist abgeschnitten");
    const std::string whole = StoreCompanionJob(*makeSampleJob());
    EXPECT_EQ(LoadCompanionJob(whole + "xyz", {}).error, "auf den Auftrag folgen 3 Bytes");
    DownloadJob category;
    category.nodeFlags = kNodeCategory;
    category.name = "C";
    KxdWriter writer;
    StoreNode(writer, category, false);
    EXPECT_EQ(LoadCompanionJob(writer.bytes(), {}).error, "die Datei enth\xC3\xA4lt keinen Auftrag");
    // Read through its data file, the reason follows the companion's name.
    const auto data = dir / "f.bin";
    test::writeFile(CompanionPathFor(data), "ab");
    EXPECT_EQ(ReadCompanionFile(data, {}).error, CompanionPathFor(data).string() + ": die Datei ist abgeschnitten");
    // A folder that is not there: the standard file text, in German, names it once.
    std::string error;
    const auto nowhere = dir / "none" / "f.bin";
    EXPECT_FALSE(WriteCompanionFile(nowhere, *makeSampleJob(), &error));
    EXPECT_EQ(error, CompanionPathFor(nowhere).string() + " enth\xC3\xA4lt einen falschen Pfad.");
    // Not in the language: English.
    const std::string cut = LoadCompanionJob(std::string_view(whole).substr(0, whole.size() / 2), {}).error;
    EXPECT_NE(cut.find(" at byte "), std::string::npos) << cut;
}

}  // namespace
}  // namespace fetchora

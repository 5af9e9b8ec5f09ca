#include "model/job_defaults.h"

#include <gtest/gtest.h>

#include "config/app_settings.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(JobDefaultsFromSettings, CarriesTheDownloadDefaultValues)
{
    test::TempDir dir;
    Registry registry;
    AppSettings settings(registry,
                         {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", "/home/u/Downloads",
                          (dir.path() / "tmp").string(), "en_US.UTF-8"});
    settings.LoadSettings();

    const JobDefaults stock = JobDefaultsFromSettings(settings);
    EXPECT_EQ(stock.categoryId, 3);
    EXPECT_EQ(stock.splitCount, 2);
    EXPECT_EQ(stock.maxParallelNum, 10);
    EXPECT_EQ(stock.startMode, StartMode::Immediately);
    EXPECT_EQ(stock.login, 0xFF0u);
    EXPECT_TRUE(stock.useTempFile);
    EXPECT_TRUE(stock.findAlternateUrls);
    EXPECT_EQ(stock.defaultDownloadFolder, "/home/u/Downloads");

    settings.SetOption(OptionId::DefaultCategory, 5);
    settings.SetOption(OptionId::DefaultSplit, 4);
    settings.SetOption(OptionId::DefaultStartMode, 0);
    settings.SetOption(OptionId::DefaultLogin, 1);
    settings.SetOption(OptionId::DefaultJobSwitch20, 0);
    settings.SetOption(OptionId::UnfinishedExtension, 0);
    settings.SetOption(OptionId::FindAlternateUrlsForNewJobs, 0);
    settings.SetOptionText(OptionId::DefaultUserName, "user");
    settings.SetOptionText(OptionId::DefaultPassword, "pw");
    settings.SetOptionText(OptionId::DefaultReferer, "http://ref/");
    settings.SetOptionText(OptionId::DefaultPath, "/chosen");

    const JobDefaults changed = JobDefaultsFromSettings(settings);
    EXPECT_EQ(changed.categoryId, 5);
    EXPECT_EQ(changed.splitCount, 4);
    EXPECT_EQ(changed.startMode, StartMode::Manual);
    EXPECT_EQ(changed.login & 0x7F, 0x51u);
    EXPECT_FALSE(changed.useTempFile);
    EXPECT_FALSE(changed.findAlternateUrls);
    EXPECT_EQ(changed.userName, "user");
    EXPECT_EQ(changed.password, "pw");
    EXPECT_EQ(changed.referer, "http://ref/");
    EXPECT_EQ(changed.path, "/chosen");

    DownloadJob job;
    job.ApplyDefaults(NodeKind::Job, changed, nullptr, 0);
    EXPECT_EQ(job.optionFlags, kOptUseLogin | kOptNoMirrorSearch | kOptFtpSubdirectories | kOptFtpCreateSubdirectories);
    EXPECT_EQ(job.formatFlags, 13u);
    EXPECT_EQ(job.saveFolder, "/chosen");
}

}  // namespace
}  // namespace fetchora

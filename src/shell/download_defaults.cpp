#include "shell/download_defaults.h"

#include "config/app_settings.h"
#include "model/category_tree.h"
#include "model/job_defaults.h"
#include "shell/application.h"

namespace fetchora {

namespace {

// "Login" bits 0..3 are one switch: any of them set means "log in".
constexpr uint32_t kLoginSwitchBits = 0xF;
constexpr uint32_t kLoginFtpSubdirectories = 0x10;
constexpr uint32_t kLoginCreateCategory = 0x20;
constexpr uint32_t kLoginFtpCreateSubdirectories = 0x40;

uint32_t withBit(uint32_t word, uint32_t bit, bool on)
{
    return on ? (word | bit) : (word & ~bit);
}

uint16_t knownProxy(uint16_t index, size_t proxyCount)
{
    return index < proxyCount ? index : 0;
}

}  // namespace

void MakeDefaultsSample(DownloadJob& sample, const AppSettings& settings, const CComPtrTree* tree)
{
    sample.ApplyDefaults(NodeKind::Job, JobDefaultsFromSettings(settings), tree, -1);
}

JobDefaults JobDefaultsFromJob(const DownloadJob& job, const JobDefaults& current, const CComPtrTree* tree,
                               size_t proxyCount)
{
    JobDefaults defaults = current;
    defaults.categoryId = job.categoryId;
    defaults.splitCount = std::clamp(job.splitCount, 1, std::clamp(current.maxParallelNum, 1, kMaxSplitCount));
    defaults.startMode = job.startMode;
    defaults.userName = job.userName();
    defaults.password = job.password();
    defaults.referer = job.referer;
    defaults.httpProxyId = knownProxy(job.httpProxyId, proxyCount);
    defaults.ftpProxyId = knownProxy(job.ftpProxyId, proxyCount);
    defaults.streamProxyId = knownProxy(job.streamProxyId, proxyCount);

    const bool login = (job.optionFlags & kOptUseLogin) != 0;
    uint32_t word = current.login;
    if (!login)
        word &= ~kLoginSwitchBits;
    else if ((word & kLoginSwitchBits) == 0)
        word |= 1;
    word = withBit(word, kLoginFtpSubdirectories, (job.optionFlags & kOptFtpSubdirectories) != 0);
    word = withBit(word, kLoginCreateCategory, (job.optionFlags & kOptCreateCategory) != 0);
    word = withBit(word, kLoginFtpCreateSubdirectories, (job.optionFlags & kOptFtpCreateSubdirectories) != 0);
    defaults.login = word;
    defaults.findAlternateUrls = (job.optionFlags & kOptNoMirrorSearch) == 0;

    defaults.path = job.saveFolder;
    const DownloadJob* category = tree != nullptr ? tree->FindById(job.categoryId) : nullptr;
    if (category != nullptr && category->IsCategory() && category->saveFolder == job.saveFolder)
        defaults.path.clear();
    return defaults;
}

void StoreJobDefaults(AppSettings& settings, const JobDefaults& defaults)
{
    settings.SetOption(OptionId::DefaultCategory, defaults.categoryId);
    settings.SetOption(OptionId::DefaultSplit, defaults.splitCount);
    settings.SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(defaults.startMode));
    settings.SetOptionText(OptionId::DefaultUserName, defaults.userName);
    settings.SetOptionText(OptionId::DefaultPassword, defaults.password);
    settings.SetOptionText(OptionId::DefaultReferer, defaults.referer);
    settings.SetOptionText(OptionId::DefaultPath, defaults.path);
    settings.SetOption(OptionId::DefaultLogin, static_cast<int32_t>(defaults.login & kLoginSwitchBits));
    settings.SetOption(OptionId::DefaultJobSwitch10, (defaults.login & kLoginFtpSubdirectories) != 0);
    settings.SetOption(OptionId::DefaultJobSwitch20, (defaults.login & kLoginCreateCategory) != 0);
    settings.SetOption(OptionId::DefaultJobSwitch40, (defaults.login & kLoginFtpCreateSubdirectories) != 0);
    settings.SetOption(OptionId::FindAlternateUrlsForNewJobs, defaults.findAlternateUrls);
    settings.SetOption(OptionId::HttpProxyDefault, defaults.httpProxyId);
    settings.SetOption(OptionId::FtpProxyDefault, defaults.ftpProxyId);
    settings.SetOption(OptionId::StreamProxyDefault, defaults.streamProxyId);
}

bool SaveJobAsDefaults(Application& app, const DownloadJob& job, const CComPtrTree* tree)
{
    AppSettings& settings = app.settings();
    const JobDefaults defaults
        = JobDefaultsFromJob(job, JobDefaultsFromSettings(settings), tree, settings.proxies().ProxyCount());
    return app.changeSettings([&defaults](AppSettings& changed) { StoreJobDefaults(changed, defaults); });
}

bool RememberNewJobCategory(Application& app, const DownloadJob& job, const CComPtrTree* tree)
{
    AppSettings& settings = app.settings();
    if (settings.GetOption(OptionId::RememberLastCategory) == 0)
        return false;
    const JobDefaults current = JobDefaultsFromSettings(settings);
    const JobDefaults chosen = JobDefaultsFromJob(job, current, tree, settings.proxies().ProxyCount());
    if (chosen.categoryId == current.categoryId && chosen.path == current.path)
        return false;
    return app.changeSettings([&chosen](AppSettings& changed) {
        changed.SetOption(OptionId::DefaultCategory, chosen.categoryId);
        changed.SetOptionText(OptionId::DefaultPath, chosen.path);
    });
}

}  // namespace fetchora

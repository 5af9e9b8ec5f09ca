#include "model/job_defaults.h"

#include "config/app_settings.h"
#include "model/category_tree.h"
#include "net/url.h"

namespace fetchora {
namespace {

class TreeCategoryFolders : public CategoryFolders {
public:
    explicit TreeCategoryFolders(const CComPtrTree& tree) : m_tree(tree) { }

    std::optional<std::string> categoryFolder(uint32_t id) const override
    {
        const DownloadJob* category = m_tree.FindById(static_cast<int32_t>(id));
        if (!category || !category->IsCategory())
            return std::nullopt;
        return category->saveFolder;
    }

private:
    const CComPtrTree& m_tree;
};

}  // namespace

JobDefaults JobDefaultsFromSettings(const AppSettings& settings)
{
    JobDefaults defaults;
    defaults.categoryId = settings.GetOption(OptionId::DefaultCategory);
    defaults.splitCount = settings.GetOption(OptionId::DefaultSplit);
    defaults.maxParallelNum = settings.GetOption(OptionId::MaxParallelNum);
    defaults.httpProxyId = static_cast<uint16_t>(settings.GetOption(OptionId::HttpProxyDefault));
    defaults.ftpProxyId = static_cast<uint16_t>(settings.GetOption(OptionId::FtpProxyDefault));
    defaults.streamProxyId = static_cast<uint16_t>(settings.GetOption(OptionId::StreamProxyDefault));
    defaults.startMode = static_cast<StartMode>(settings.GetOption(OptionId::DefaultStartMode));
    defaults.userName = settings.GetOptionText(OptionId::DefaultUserName);
    defaults.password = settings.GetOptionText(OptionId::DefaultPassword);
    defaults.referer = settings.GetOptionText(OptionId::DefaultReferer);
    defaults.path = settings.GetOptionText(OptionId::DefaultPath);
    defaults.login = static_cast<uint32_t>(settings.values().defaultLogin);
    defaults.findAlternateUrls = settings.GetOption(OptionId::FindAlternateUrlsForNewJobs) != 0;
    defaults.useTempFile = settings.GetOption(OptionId::UnfinishedExtension) != 0;
    defaults.defaultDownloadFolder = settings.GetOptionText(OptionId::DefaultDownloadFolder);
    return defaults;
}

const DownloadRule* ApplyDownloadRules(const DownloadRuleList& rules, DownloadJob& job, const CComPtrTree& tree)
{
    DownloadRuleJob ruleJob;
    if (const std::optional<UrlEntry> entry = ParseUrl(job.url))
        ruleJob.host = entry->host;
    ruleJob.fileName = job.GetDisplayName();
    ruleJob.categoryId = static_cast<uint32_t>(job.categoryId);
    ruleJob.saveFolder = job.saveFolder;
    ruleJob.acceptsNewFolder = !job.hasData;
    const DownloadRule* rule = ApplyDownloadRules(rules, ruleJob, TreeCategoryFolders(tree));
    if (rule) {
        job.categoryId = static_cast<int32_t>(ruleJob.categoryId);
        job.saveFolder = ruleJob.saveFolder;
    }
    return rule;
}

}  // namespace fetchora

#include "gui/site_properties_dialog.h"

#include <QMessageBox>

#include "gui/site_rule_dialog.h"
#include "gui/ui_text.h"
#include "model/download_job.h"
#include "net/url.h"
#include "shell/application.h"

namespace fetchora {

namespace {

constexpr uint32_t kStrNotDownloadable = 41823;
constexpr uint32_t kStrSitePropertiesTitle = 41824;

}  // namespace

std::optional<SitePropertiesTarget> sitePropertiesFor(const AppSettings& settings, const DownloadJob& job)
{
    std::optional<UrlEntry> entry = ParseUrl(job.url);
    if (!entry || !IsTransferable(entry->service))
        return std::nullopt;
    const SiteRuleList& rules = settings.siteRules();
    SitePropertiesTarget target;
    target.rule = newSiteRule(settings.proxies());
    if (const SiteRule* found = rules.FindSiteRule(job.url)) {
        for (size_t i = 0; i < rules.SiteRuleCount(); ++i) {
            if (rules.SiteRuleAt(i) == found) {
                target.storedIndex = static_cast<int>(i);
                target.rule = *found;
                return target;
            }
        }
        // A run-time rule: only its connection limit is worth keeping.
        target.rule.connection = found->connection;
        target.rule.flags = found->flags;
    }
    // The whole site: scheme, host and a port other than the default, then
    // "/" so that no longer host name starts with the mask.
    entry->object = "/";
    entry->userName.clear();
    entry->password.clear();
    target.rule.urlMask = CanonicalUrl(*entry).value_or(std::string());
    return target;
}

bool storeSiteProperties(Application& app, const SitePropertiesTarget& target, const SiteRule& edited)
{
    return app.changeSettings([&](AppSettings& settings) {
        JobLockGuard guard(app.jobLock());
        SiteRuleList& rules = settings.siteRules();
        SiteRule* stored
            = target.storedIndex >= 0 ? rules.SiteRuleAt(static_cast<size_t>(target.storedIndex)) : nullptr;
        if (stored)
            *stored = edited;
        else
            rules.AddSiteRule(edited);
    });
}

bool showSiteProperties(Application& app, const DownloadJob& job, QWidget* parent)
{
    const std::optional<SitePropertiesTarget> target = sitePropertiesFor(app.settings(), job);
    if (!target) {
        QMessageBox::warning(parent, uiString(kStrSitePropertiesTitle), uiString(kStrNotDownloadable));
        return false;
    }
    SiteRuleDialog dialog(target->rule, proxyNames(app.settings().proxies()), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return storeSiteProperties(app, *target, dialog.rule());
}

}  // namespace fetchora

#include "gui/dialog_opener.h"

#include "gui/batch_dialog.h"
#include "gui/check_new_dialog.h"
#include "gui/command_actions.h"
#include "gui/download_rules_dialog.h"
#include "gui/export_info_dialog.h"
#include "gui/login_page.h"
#include "gui/offline_frame.h"
#include "gui/options_sheet.h"
#include "gui/previous_batch_dialog.h"
#include "gui/previous_file_dialog.h"
#include "gui/proxy_page.h"
#include "gui/recent_files_dialog.h"
#include "gui/schedule_dialog.h"
#include "gui/site_properties_dialog.h"
#include "gui/web_page_dialog.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "shell/view_command.h"

namespace fetchora {

namespace {

bool named(const std::string& name, ViewCommand command)
{
    return name == std::to_string(static_cast<uint32_t>(command));
}

}  // namespace

DialogOpener::DialogOpener(Application& app, MainView& view, QWidget* parent)
    : m_app(app), m_view(view), m_parent(parent)
{
}

bool DialogOpener::open(const std::string& name)
{
    if (named(name, ViewCommand::Options)) {
        std::vector<int> renumbered;
        const bool accepted = showOptionsSheet(m_app, m_parent, [&](OptionsSheet& sheet) {
            auto* proxies = new ProxyPage(m_app.jobLock());
            sheet.insertPage(kProxyPagePosition, proxies);
            sheet.addPage(new LoginPage(m_app.jobLock()));
            // The pages go with the sheet: the new numbering is kept when
            // the sheet has applied them.
            QObject::connect(&sheet, &QDialog::accepted, &sheet,
                             [proxies, &renumbered] { renumbered = proxies->renumbered(); });
        });
        // The jobs' proxy choices follow their entries when the list changed.
        if (accepted)
            m_view.renumberProxies(renumbered);
        return true;
    }
    if (named(name, ViewCommand::DownloadRules)) {
        showDownloadRules(m_app, m_view.doc().root(), m_parent);
        return true;
    }
    if (named(name, ViewCommand::Schedule)) {
        showScheduleDialog(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::SiteProperties)) {
        if (const DownloadJob* job = m_view.focusedJob())
            showSiteProperties(m_app, *job, m_parent);
        return true;
    }
    if (named(name, ViewCommand::BatchDownload)) {
        showBatchDialog(m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::ExportInformation)) {
        showExportInfoDialog(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::ProcessWebPage)) {
        showProcessWebPage(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::ImportPreviousFile)) {
        showImportPreviousFile(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::ImportPreviousBatch)) {
        showImportPreviousBatch(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::ImportBrokenDownloads)) {
        showImportBrokenDownload(m_app, m_view, m_parent);
        return true;
    }
    if (named(name, ViewCommand::RecentlyDownloaded)) {
        showRecentFiles(m_app, m_view, m_parent);
        return true;
    }
    // Explorer windows are not modal: each lives beside the main window,
    // owned by it, until it is closed.
    if (named(name, ViewCommand::SiteExplorer)) {
        openExplorerWindow(m_app, m_view, ExplorerKind::SiteExplorer, {}, m_parent);
        return true;
    }
    if (named(name, ViewCommand::OfflineBrowser)) {
        openExplorerWindow(m_app, m_view, ExplorerKind::OfflineBrowser, {}, m_parent);
        return true;
    }
    if (named(name, ViewCommand::BrowseWithSiteExplorer)) {
        if (const DownloadJob* job = m_view.focusedJob())
            openExplorerWindow(m_app, m_view, ExplorerKind::SiteExplorer, job->url, m_parent);
        return true;
    }
    // The update dialog in its two modes.
    if (name == std::to_string(static_cast<uint32_t>(FrameCommand::LanguagePack))) {
        showCheckNewDialog(m_app, m_view.desktop(), UpdateMode::LanguagePacks, m_parent);
        return true;
    }
    if (name == std::to_string(static_cast<uint32_t>(FrameCommand::CheckNewVersion))) {
        showCheckNewDialog(m_app, m_view.desktop(), UpdateMode::VersionCheck, m_parent);
        return true;
    }
    return false;
}

}  // namespace fetchora

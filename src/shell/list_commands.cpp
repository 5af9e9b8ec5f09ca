#include "shell/list_commands.h"

#include <algorithm>
#include <ctime>

#include "config/app_settings.h"
#include "explorer/link_extractor.h"
#include "lists/page_url_history.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "net/url.h"
#include "platform/desktop_actions.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/job_list_cells.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

int32_t nowSeconds()
{
    return static_cast<int32_t>(std::time(nullptr));
}

bool sizesInBytes(Application& app)
{
    return app.settings().GetOption(OptionId::SizesInBytes) > 0;
}

// What the later URLs of a batch take from its first job: its settings, not
// its file name (each URL names its own file).
void copyBatchSettings(DownloadJob& model, const DownloadJob& first)
{
    model.categoryId = first.categoryId;
    model.saveFolder = first.saveFolder;
    model.splitCount = first.splitCount;
    model.startMode = first.startMode;
    if (model.hasTexts() || !first.userName().empty() || !first.password().empty()) {
        model.editTexts().userName = first.userName();
        model.editTexts().password = first.password();
    }
    model.optionFlags = first.optionFlags;
    model.httpProxyId = first.httpProxyId;
    model.ftpProxyId = first.ftpProxyId;
    model.streamProxyId = first.streamProxyId;
    model.referer = first.referer;
}

bool insideDeleted(const DownloadJob& job)
{
    for (const DownloadJob* up = job.parent(); up != nullptr; up = up->parent()) {
        if (up->IsCategory() && up->GetCategoryKind() == CategoryKind::Deleted)
            return true;
    }
    return false;
}

// After an import: the list (and the category tree, which follows a
// rebuild) shows what was added, and the database is written.
void showImported(MainView& view)
{
    {
        JobLockGuard lock(view.doc().jobLock());
        view.list().rebuild();
    }
    view.save();
}

}  // namespace

// ---- batch download ---------------------------------------------------------------------

BatchAddOutcome addBatchJobs(MainView& view, const BatchSeries& series,
                             const std::function<void(std::size_t remaining)>& beforeRest)
{
    BatchAddOutcome outcome;
    outcome.validation = ValidateBatch(series);
    if (!outcome.validation.ok())
        return outcome;
    const std::vector<std::string> urls = ExpandBatch(series);
    if (urls.empty())
        return outcome;

    AddDownloadRequest firstRequest;
    firstRequest.text = urls.front();
    firstRequest.showDialog = true;
    const AddDownloadOutcome first = view.addDownload(firstRequest);
    if (first.result == AddDownloadResult::Cancelled || first.job == nullptr) {
        outcome.cancelled = first.result == AddDownloadResult::Cancelled;
        return outcome;
    }
    if (first.result == AddDownloadResult::Added)
        ++outcome.added;

    if (beforeRest)
        beforeRest(urls.size() - 1);
    DownloadJob model;
    {
        JobLockGuard lock(view.doc().jobLock());
        copyBatchSettings(model, *first.job);
    }
    for (std::size_t i = 1; i < urls.size(); ++i) {
        AddDownloadRequest request;
        request.text = urls[i];
        request.templateJob = &model;
        if (view.addDownload(request).result == AddDownloadResult::Added)
            ++outcome.added;
    }
    {
        JobLockGuard lock(view.doc().jobLock());
        view.queue().FillQueue();
    }
    view.save();
    return outcome;
}

// ---- export information ------------------------------------------------------------------

std::filesystem::path exportStyleFolder(Application& app)
{
    return app.settings().GetOptionText(OptionId::ProgramFolder);
}

ExportResult runInformationExport(Application& app, MainView& view, const InformationExportRequest& request)
{
    ExportResult result;
    if (request.category == nullptr) {
        result.error = builtinText(kStrNoCategoryToExport);
        return result;
    }
    ExportOptions options;
    options.includeSubCategories = request.includeSubCategories;
    options.sizesInBytes = sizesInBytes(app);
    if (request.type == InformationExportType::IndividualLog)
        return ExportIndividualLogs(*request.category, options, app.jobLock());

    const TemplateReadResult format = ReadExportTemplate(ExportStylePath(exportStyleFolder(app), request.style));
    if (!format.ok) {
        result.error = format.error;
        return result;
    }
    result = WriteHtmlExport(request.output, format.format, *request.category, options, app.jobLock());
    if (result.ok && request.viewAfter)
        view.desktop().open(request.output.string());
    return result;
}

// ---- a saved web page -------------------------------------------------------------------------

std::vector<LinkChoice> savedPageLinks(const std::filesystem::path& page, const std::string& baseUrl)
{
    std::vector<LinkChoice> links;
    for (ExtractedLink& link : ExtractLinksFromFile(page, baseUrl)) {
        // A relative link without a base, a mail address or a script is
        // nothing a job could fetch.
        const auto entry = ParseUrl(link.url);
        if (entry && IsTransferable(entry->service))
            links.push_back({std::move(link.url), std::move(link.title)});
    }
    return links;
}

WebPageOutcome processWebPage(Application& app, MainView& view, const std::filesystem::path& page,
                              const std::string& baseUrl)
{
    PageUrlHistory history;
    history.Load(app.registry());
    history.Add(baseUrl);
    history.Save(app.registry());
    app.registry().flush();

    const std::vector<LinkChoice> links = savedPageLinks(page, baseUrl);
    if (links.empty())
        return WebPageOutcome::NoValidUrl;
    view.addLinks(links, baseUrl, 1);
    return WebPageOutcome::Handed;
}

// ---- earlier and broken downloads -----------------------------------------------------------

bool preparePreviousFile(Application& app, const std::filesystem::path& path, PreviousFileStart& out,
                         std::string& error)
{
    if (!StatDiskFile(path, out.file, &error))
        return false;
    KxdLoadOptions options;
    options.defaults = JobDefaultsFromSettings(app.settings());
    CompanionRead companion = ReadCompanionFile(path, options);
    if (companion.status == CompanionStatus::Damaged)
        out.companionProblem = companion.error;
    if (companion.job) {
        out.choice.url = companion.job->url;
        out.choice.referer = companion.job->referer;
        out.choice.comment = companion.job->comment();
        out.loaded = std::move(companion.job);
    }
    return true;
}

ImportResult importPreviousFile(Application& app, MainView& view, PreviousFileStart start, const ImportChoice& choice)
{
    ImportResult result = ImportPreviousFile(view.doc(), JobDefaultsFromSettings(app.settings()), nowSeconds(),
                                             start.file, choice, std::move(start.loaded));
    if (result.job)
        showImported(view);
    return result;
}

ImportResult importBrokenDownload(Application& app, MainView& view, const DiskFile& file, const ImportChoice& choice)
{
    ImportResult result
        = ImportBrokenDownload(view.doc(), JobDefaultsFromSettings(app.settings()), nowSeconds(), file, choice);
    if (result.job)
        showImported(view);
    return result;
}

FolderImportResult importPreviousFolder(Application& app, MainView& view, FolderImportOptions options)
{
    options.companion.defaults = JobDefaultsFromSettings(app.settings());
    FolderImportResult result
        = ImportFolder(view.doc(), JobDefaultsFromSettings(app.settings()), nowSeconds(), options);
    if (result.added > 0 || result.categoriesCreated > 0)
        showImported(view);
    return result;
}

// ---- recently downloaded files --------------------------------------------------------------------

std::vector<RecentFile> recentlyDownloaded(Application& app, MainView& view, std::size_t limit)
{
    const bool inBytes = sizesInBytes(app);
    std::vector<const DownloadJob*> completed;
    JobLockGuard lock(app.jobLock());
    for (const DownloadJob* node : view.doc().tree().nodes()) {
        if (!node->IsCategory() && node->IsComplete() && !insideDeleted(*node))
            completed.push_back(node);
    }
    // Newest first; a job without a completion time counts as oldest.
    std::stable_sort(completed.begin(), completed.end(),
                     [](const DownloadJob* a, const DownloadJob* b) { return a->completeTime > b->completeTime; });
    if (completed.size() > limit)
        completed.resize(limit);
    std::vector<RecentFile> files;
    files.reserve(completed.size());
    for (const DownloadJob* job : completed) {
        RecentFile file;
        file.jobId = job->id;
        file.name = job->GetDisplayName();
        file.sizeText = jobCellText(*job, JobColumn::Size, {}, inBytes);
        file.completeTimeText = jobCellText(*job, JobColumn::CompleteTime, {}, inBytes);
        file.completeTime = job->completeTime;
        file.folder = job->saveFolder;
        file.path = job->GetLocalPath();
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace fetchora

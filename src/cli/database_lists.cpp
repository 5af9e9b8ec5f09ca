#include "cli/database_lists.h"

#include <cerrno>
#include <ctime>
#include <ostream>
#include <set>

#include "cli/cli_texts.h"
#include "config/app_settings.h"
#include "lang/string_table.h"
#include "lists/export_template.h"
#include "lists/file_error.h"
#include "lists/html_export.h"
#include "lists/url_list.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "platform/text_utils.h"
#include "shell/application.h"
#include "shell/engine_services.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

bool openProfileDatabase(Application& app, CZoviradDoc& doc, std::ostream& err)
{
    AppSettings& settings = app.settings();
    DatabaseOpenOptions open;
    open.load.defaults = JobDefaultsFromSettings(settings);
    open.load.now = static_cast<int32_t>(std::time(nullptr));
    const OpenResult result = OpenDatabase(doc, app.defaultDatabasePath(), open);
    if (!result.message.empty())
        err << "fetchora-cli: " << result.message << "\n";
    if (result.status == OpenStatus::Created)
        doc.OnNewDocument(settings.GetOptionText(OptionId::DefaultDownloadFolder));
    return doc.root() != nullptr;
}

// The category of --category, or the fallback; reports a missing one.
DownloadJob* chosenCategory(const CZoviradDoc& doc, const CliOptions& options, DownloadJob* fallback, std::ostream& err)
{
    if (options.category.empty())
        return fallback;
    DownloadJob* category = FindCategoryByName(doc, options.category);
    if (!category)
        err << "fetchora-cli: " << builtinText(kStrCliNoCategory, {options.category}) << "\n";
    return category;
}

std::string readFailure(const std::filesystem::path& file, const std::string& fallback)
{
    const int errorNumber = ReadErrorNumber(file);
    return errorNumber != 0 ? FileErrorText(file, errorNumber) : fallback;
}

std::string writeFailure(const std::filesystem::path& file, int errorNumber, const std::string& fallback)
{
    return errorNumber != 0 ? FileErrorText(file, errorNumber) : fallback;
}

int importList(Application& app, CZoviradDoc& doc, const CliOptions& options, std::ostream& out, std::ostream& err)
{
    const UrlListRead read = ReadUrlList(options.listFile);
    if (!read.ok) {
        err << "fetchora-cli: " << readFailure(options.listFile, read.error) << "\n";
        return 1;
    }
    if (read.urls.empty()) {
        err << "fetchora-cli: " << options.listFile << ": " << builtinString(kStrNoValidUrl) << "\n";
        return 1;
    }
    AppSettings& settings = app.settings();
    int added = 0;
    int known = 0;
    {
        JobLockGuard lock(app.jobLock());
        DownloadJob* category = chosenCategory(doc, options, doc.downloading(), err);
        if (!category)
            return 1;
        JobDefaults defaults = JobDefaultsFromSettings(settings);
        if (!category->saveFolder.empty())
            defaults.path = category->saveFolder;
        std::set<std::string> urls;
        for (const DownloadJob* node : doc.tree().nodes()) {
            if (!node->IsCategory())
                urls.insert(node->url);
        }
        const int32_t now = static_cast<int32_t>(std::time(nullptr));
        for (const std::string& url : read.urls) {
            std::unique_ptr<DownloadJob> job = doc.NewRecord(NodeKind::Job, defaults, now);
            if (!job->SetUrl(url))
                continue;
            // A URL the database has already is not added twice.
            if (!urls.insert(job->url).second) {
                ++known;
                continue;
            }
            job->RebuildUrlEntries(&settings.siteRules());
            if (doc.AddJob(std::move(job), category))
                ++added;
        }
    }
    const SaveResult saved = SaveJobDatabase(doc, app.defaultDatabasePath());
    if (!saved.ok) {
        err << "fetchora-cli: " << saved.error << "\n";
        return 1;
    }
    const std::string addedText = std::to_string(added);
    if (known > 0)
        out << builtinText(added == 1 ? kStrCliAddedOneKnown : kStrCliAddedManyKnown, {addedText, std::to_string(known)});
    else
        out << builtinText(added == 1 ? kStrCliAddedOne : kStrCliAddedMany, {addedText});
    out << "\n";
    return 0;
}

int exportList(CZoviradDoc& doc, Application& app, const CliOptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<const DownloadJob*> jobs;
    {
        JobLockGuard lock(app.jobLock());
        DownloadJob* category = chosenCategory(doc, options, doc.root(), err);
        if (!category)
            return 1;
        for (const DownloadJob* exported : ExportedCategories(*category, true)) {
            for (const DownloadJob* child = exported->firstChild(); child; child = child->nextSibling()) {
                if (!child->IsCategory())
                    jobs.push_back(child);
            }
        }
    }
    std::string error;
    errno = 0;
    if (!WriteUrlList(options.listFile, jobs, &error)) {
        err << "fetchora-cli: " << writeFailure(options.listFile, errno, error) << "\n";
        return 1;
    }
    out << builtinText(jobs.size() == 1 ? kStrCliWroteOneUrl : kStrCliWroteUrls,
                     {std::to_string(jobs.size()), options.listFile})
        << "\n";
    return 0;
}

int exportHtml(CZoviradDoc& doc, Application& app, const CliOptions& options, std::ostream& out, std::ostream& err)
{
    const std::filesystem::path programFolder = app.settings().values().programFolder;
    std::filesystem::path templateFile;
    if (options.exportTemplate.empty()) {
        const std::vector<std::string> styles = ListExportStyles(programFolder);
        if (styles.empty()) {
            err << "fetchora-cli: " << builtinText(kStrCliNoTemplate, {programFolder.string()}) << "\n";
            return 2;
        }
        templateFile = ExportStylePath(programFolder, styles.front());
    } else {
        // A path names a file; a bare name is a style of the program folder.
        std::error_code code;
        templateFile = options.exportTemplate;
        if (!std::filesystem::exists(templateFile, code) && templateFile.filename() == templateFile
            && templateFile.extension() != kTemplateExtension)
            templateFile = ExportStylePath(programFolder, options.exportTemplate);
    }
    const TemplateReadResult format = ReadExportTemplate(templateFile);
    if (!format.ok) {
        err << "fetchora-cli: " << readFailure(templateFile, format.error) << "\n";
        return 1;
    }
    ExportOptions exportOptions;
    exportOptions.includeSubCategories = true;
    exportOptions.sizesInBytes = app.settings().GetOption(OptionId::SizesInBytes) > 0;
    DownloadJob* category = nullptr;
    {
        JobLockGuard lock(app.jobLock());
        category = chosenCategory(doc, options, doc.root(), err);
    }
    if (!category)
        return 1;
    errno = 0;
    const ExportResult result
        = WriteHtmlExport(options.listFile, format.format, *category, exportOptions, app.jobLock());
    if (!result.ok) {
        err << "fetchora-cli: " << writeFailure(options.listFile, errno, result.error) << "\n";
        return 1;
    }
    out << builtinText(kStrCliWroteFile, {options.listFile}) << "\n";
    return 0;
}

}  // namespace

DownloadJob* FindCategoryByName(const CZoviradDoc& doc, std::string_view name)
{
    for (DownloadJob* node : doc.tree().nodes()) {
        if (!node->IsCategory() || node == doc.root())
            continue;
        if (equalsIgnoringCase(node->GetDisplayName(), name))
            return node;
    }
    // "A/B": each name a child category of the one before, from the top.
    DownloadJob* current = doc.root();
    std::string_view rest = name;
    while (current && !rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        DownloadJob* next = nullptr;
        for (DownloadJob* child = current->firstChild(); child; child = child->nextSibling()) {
            if (child->IsCategory() && equalsIgnoringCase(child->GetDisplayName(), part)) {
                next = child;
                break;
            }
        }
        current = next;
    }
    return current != doc.root() ? current : nullptr;
}

int runListCommand(Application& app, const CliOptions& options, std::ostream& out, std::ostream& err)
{
    CZoviradDoc doc(app.jobLock());
    if (!openProfileDatabase(app, doc, err))
        return 1;
    switch (options.mode) {
    case CliMode::ImportList: return importList(app, doc, options, out, err);
    case CliMode::ExportList: return exportList(doc, app, options, out, err);
    case CliMode::ExportHtml: return exportHtml(doc, app, options, out, err);
    default: return 2;
    }
}

}  // namespace fetchora

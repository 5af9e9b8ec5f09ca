#pragma once
// The list commands of the main window that run after a dialog of their own
// (batch download, export information, a saved web page, the imports of
// earlier and broken downloads, the recently downloaded files): what happens
// once the user has answered. The dialogs gather the answers; these put them
// into the view's database through its public operations, so that the jobs
// show in the list, the queue tops up and the database is saved.
//
// Thread: the loop thread (the GUI thread of the desktop program). Every
// function borrows the application and the view for the call only; the job
// lock is taken here where the tree is read or changed.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lists/batch_urls.h"
#include "lists/companion_file.h"
#include "lists/html_export.h"
#include "lists/previous_import.h"
#include "shell/user_prompts.h"

namespace fetchora {

class Application;
class MainView;

// ---- batch download ---------------------------------------------------------------------

struct BatchAddOutcome {
    BatchValidation validation;  // not Ok: nothing was added
    bool cancelled = false;  // the add-download dialog of the first URL was cancelled
    std::size_t added = 0;  // new jobs, the first one included
};

// The first URL of the series goes through the add-download dialog (shown);
// when it is not cancelled, every further URL is added with the first job's
// settings without a dialog. Later jobs take their own names from their URLs,
// never the first job's file name, so that a renamed first file does not
// make the whole series write into one file. Then the queue tops up and the
// database is saved. beforeRest (may be empty) is called once the first URL
// was taken, with the number of URLs still to add (a window shows that it
// is busy: a long series takes seconds).
BatchAddOutcome addBatchJobs(MainView& view, const BatchSeries& series,
                             const std::function<void(std::size_t remaining)>& beforeRest = {});

// ---- export information ------------------------------------------------------------------

enum class InformationExportType { Html, IndividualLog };

struct InformationExportRequest {
    DownloadJob* category = nullptr;  // none: nothing is exported
    bool includeSubCategories = false;
    InformationExportType type = InformationExportType::Html;
    std::string style;  // HTML: the template's style name
    std::filesystem::path output;  // HTML: the page to write
    bool viewAfter = false;  // HTML: open the page with the desktop afterwards
};

// Where the export templates (".kxs") are looked for: the program folder.
std::filesystem::path exportStyleFolder(Application& app);

// Writes the page (or the job information files) for the request, with the
// sizes as the list shows them; opens the page afterwards when asked and
// the export succeeded.
ExportResult runInformationExport(Application& app, MainView& view, const InformationExportRequest& request);

// ---- a saved web page -------------------------------------------------------------------------

// The links of a saved page that a job can fetch, resolved against the
// base URL (may be empty), each with its anchor text, in page order.
std::vector<LinkChoice> savedPageLinks(const std::filesystem::path& page, const std::string& baseUrl);

enum class WebPageOutcome { NoValidUrl, Handed };

// Remembers the base URL in the "Enter URL" history and hands the page's
// links with the base URL to the view's link path (source 1: "Select links"
// first). NoValidUrl when the page has no link to fetch: nothing is added.
WebPageOutcome processWebPage(Application& app, MainView& view, const std::filesystem::path& page,
                              const std::string& baseUrl);

// ---- earlier and broken downloads -----------------------------------------------------------

// What the import dialogs start from: the file and, when it has a companion
// information file, the job in it (its URL, referrer and comment fill the
// dialog). A damaged companion file is said in `companionProblem` and not used.
struct PreviousFileStart {
    DiskFile file;
    std::unique_ptr<DownloadJob> loaded;
    std::string companionProblem;
    ImportChoice choice;  // prefilled from the loaded job
};

// False with a reason when the path is no regular file.
bool preparePreviousFile(Application& app, const std::filesystem::path& path, PreviousFileStart& out,
                         std::string& error);

// The imports into the view's database; the list shows the new job (and new
// categories) and the database is saved when a job was added.
ImportResult importPreviousFile(Application& app, MainView& view, PreviousFileStart start, const ImportChoice& choice);
ImportResult importBrokenDownload(Application& app, MainView& view, const DiskFile& file, const ImportChoice& choice);
FolderImportResult importPreviousFolder(Application& app, MainView& view, FolderImportOptions options);

// ---- recently downloaded files --------------------------------------------------------------------

inline constexpr std::size_t kRecentlyDownloadedLimit = 100;

// One completed file as the "Recently Downloaded File" dialog shows it. The
// texts are taken under the job lock, so that the dialog never reads a job.
struct RecentFile {
    int32_t jobId = 0;
    std::string name;
    std::string sizeText;
    std::string completeTimeText;
    int32_t completeTime = -1;
    std::string folder;
    std::string path;  // the file's full local path
};

// The completed jobs outside "Deleted", newest completion first (jobs
// without a completion time last, in tree order), at most `limit`.
std::vector<RecentFile> recentlyDownloaded(Application& app, MainView& view,
                                           std::size_t limit = kRecentlyDownloadedLimit);

}  // namespace fetchora

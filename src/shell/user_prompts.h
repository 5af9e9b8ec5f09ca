#pragma once
// Everything the main view's logic asks the user or tells the user: message
// boxes, questions, file and folder choosers and the dialogs it opens by
// name. The desktop program implements it with real dialogs; the daemon with
// fixed answers and a log; tests with a script that records every question.
//
// Every call comes on the loop thread, sometimes with the job lock held, and
// returns the user's answer (the desktop program runs its dialogs modally).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/database_file.h"

namespace fetchora {

class DownloadJob;

enum class MessageIcon { Information, Warning, Error, Question };

// How the job sheet gives an existing job a new file name or another folder:
// the view renames and moves its files, after noting where they go in the
// finish journal. `folder` and `name` are the wanted ones (the job's own
// where the user left them alone). False when the files could not go there;
// the job then keeps its name and folder.
using JobFileChange = std::function<bool(DownloadJob& job, const std::string& folder, const std::string& name)>;

// The "Duplicated URL" dialog: "Check for &update", "&Download Again",
// "&Cancel" and the box "&Use new settings".
enum class DuplicateChoice { Cancel, CheckForUpdate, DownloadAgain };
struct DuplicateAnswer {
    DuplicateChoice choice = DuplicateChoice::Cancel;
    bool useNewSettings = false;
};

// The confirmation of a permanent delete with its two remembered choices:
// whether the downloaded file, and whether an unfinished file, go too.
struct PermanentDeleteAnswer {
    bool confirmed = false;
    bool deleteFiles = false;
    bool deleteUnfinished = false;
};

// The "Find" dialog: the text and the fields searched.
struct FindRequest {
    std::string text;
    bool name = true;
    bool url = false;
    bool comment = false;
};

// A category dialog ("Create new Category" or the category's properties).
struct CategoryAnswer {
    std::string name;
    std::string folder;
    DownloadJob* parent = nullptr;  // new categories: where it is created
};

// The choices offered when a user category's folder changes.
struct FolderChangeAnswer {
    bool changeSubcategoryFolders = false;
    bool moveFiles = false;
};

// One link offered in "Select links".
struct LinkChoice {
    std::string url;
    std::string text;
};

class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // ---- message boxes ---------------------------------------------------------
    virtual void message(const std::string& text, MessageIcon icon) = 0;
    // Yes/No: true for Yes.
    virtual bool askYesNo(const std::string& text, MessageIcon icon = MessageIcon::Question) = 0;
    // OK/Cancel: true for OK.
    virtual bool askOkCancel(const std::string& text, MessageIcon icon = MessageIcon::Warning) = 0;
    // A Yes/No question with a "&Do not ask me again" box: the answer, and
    // whether the box was ticked.
    virtual bool askYesNoRemember(const std::string& text, bool& doNotAskAgain) = 0;

    // ---- choosers ---------------------------------------------------------------
    // filter: "Label (*.ext)|*.ext|...|" as the program's file dialogs take it.
    virtual std::optional<std::filesystem::path> chooseOpenFile(const std::string& title, const std::string& filter)
        = 0;
    virtual std::optional<std::filesystem::path> chooseSaveFile(const std::string& title, const std::string& filter,
                                                                const std::string& suggestedName)
        = 0;
    virtual std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                              const std::filesystem::path& start)
        = 0;

    // ---- dialogs by name ---------------------------------------------------------
    // The job property sheet on job (title "Add new download" or
    // "Properties"); the dialog edits the record in place, except that a new
    // name or folder goes through `changeFile` when one is given (a job whose
    // files may be on the disk). False for Cancel.
    virtual bool editJob(const std::string& title, DownloadJob& job, const JobFileChange& changeFile = {}) = 0;
    // The sheet on the defaults of new downloads (title "Default download
    // properties", in the current language), which shows no URL, file name,
    // comment or mirrors. Front ends without such a sheet answer as for a job.
    virtual bool editDefaults(const std::string& title, DownloadJob& sample) { return editJob(title, sample); }
    // The shared sheet for several jobs: the dialog edits `sample`; the caller
    // copies its settings to each job.
    virtual bool editJobs(const std::string& title, DownloadJob& sample, std::size_t count) = 0;
    virtual DuplicateAnswer askDuplicateUrl(const DownloadJob& existing, const DownloadJob& added) = 0;
    virtual PermanentDeleteAnswer confirmPermanentDelete(bool deleteFiles, bool deleteUnfinished) = 0;
    virtual std::optional<FindRequest> askFind(const FindRequest& last) = 0;
    // "Move" / "Move the item(s) to the selected Category:"; none for Cancel.
    virtual DownloadJob* chooseCategory(const std::string& title, const std::string& prompt) = 0;
    virtual std::optional<CategoryAnswer> editCategory(const std::string& title, const CategoryAnswer& start) = 0;
    virtual std::optional<FolderChangeAnswer> askFolderChange() = 0;
    // A one-line text dialog ("Rename", "Comment"); none for Cancel.
    virtual std::optional<std::string> askText(const std::string& title, const std::string& start) = 0;
    // "Select links": the chosen subset, in the order given; empty for Cancel.
    virtual std::vector<LinkChoice> selectLinks(const std::vector<LinkChoice>& links) = 0;
    // "Merge download database": the categories of the database to merge
    // (the tree under root), each with a tick; `ticked` comes in with every
    // category and goes out with the ticked ones. False for Cancel. Without
    // a window every category stays ticked.
    virtual bool chooseMergeCategories(const DownloadJob& root, std::unordered_set<const DownloadJob*>& ticked)
    {
        (void)root;
        (void)ticked;
        return true;
    }
    // How a damaged or missing database's backups are offered: the window
    // asks; without an answer here (headless) the newest backup that reads
    // cleanly is restored on its own.
    virtual ChooseBackup backupChooser() { return {}; }
    // Opens a dialog that only shows or edits settings (options, schedule,
    // download rules, about, recently downloaded files, ...), by its name.
    virtual void openDialog(const std::string& name) = 0;
};

}  // namespace fetchora

#pragma once
// The main view's questions as real dialogs: message boxes, Qt's file and
// folder choosers, the job property sheet, and the small dialogs of the view (duplicate
// URL, permanent delete, find, category choice and properties, rename,
// "Select links"). Every call runs its dialog modally and returns the answer.
//
// Thread: the GUI thread (the loop thread). Borrows the parent window, the
// application (settings, proxy list and store, once set) and,
// once set, the view's category tree (through the root getter).
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "gui/job_property_sheet.h"
#include "shell/user_prompts.h"

namespace fetchora {

class Application;
class Registry;

// Every dialog here is known by a section name (its objectName: the name
// translations and its stored placement use, "Delete_Dlg", "Find_Dlg", ...)
// and each control by a "controlId" unique in its dialog (options_form.h);
// OK and Cancel carry these two in each of them.
inline constexpr int kOkControlId = 1;
inline constexpr int kCancelControlId = 2;

// "Label (*.ext)|*.ext|...||" as a Qt file dialog takes it:
// "Label (*.ext);;...". Patterns split by ";" become blank separated; "*.*"
// is every file.
QString QtFileFilter(const std::string& filter);

class GuiPrompts final : public UserPrompts {
public:
    explicit GuiPrompts(QWidget* parent = nullptr);

    void setParent(QWidget* parent) { m_parent = parent; }
    // The tree chooseCategory and editCategory show (the root category).
    void setCategoryRoot(std::function<DownloadJob*()> root) { m_root = std::move(root); }
    // Where the job sheet's split count ends ("Max Parallel Num").
    void setMaxSplit(std::function<int()> maxSplit) { m_maxSplit = std::move(maxSplit); }
    // Where the job sheet finds the proxy list and the folder history.
    void setApplication(Application* app) { m_app = app; }
    // Opens the dialogs the view names by command number (options, schedule,
    // rules, ...); it answers false for a name it has no dialog for.
    void setDialogOpener(std::function<bool(const std::string&)> opener) { m_opener = std::move(opener); }

    void message(const std::string& text, MessageIcon icon) override;
    bool askYesNo(const std::string& text, MessageIcon icon) override;
    bool askOkCancel(const std::string& text, MessageIcon icon) override;
    bool askYesNoRemember(const std::string& text, bool& doNotAskAgain) override;

    std::optional<std::filesystem::path> chooseOpenFile(const std::string& title, const std::string& filter) override;
    std::optional<std::filesystem::path> chooseSaveFile(const std::string& title, const std::string& filter,
                                                        const std::string& suggestedName) override;
    std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                      const std::filesystem::path& start) override;

    bool editJob(const std::string& title, DownloadJob& job, const JobFileChange& changeFile = {}) override;
    bool editDefaults(const std::string& title, DownloadJob& sample) override;
    bool editJobs(const std::string& title, DownloadJob& sample, std::size_t count) override;
    DuplicateAnswer askDuplicateUrl(const DownloadJob& existing, const DownloadJob& added) override;
    PermanentDeleteAnswer confirmPermanentDelete(bool deleteFiles, bool deleteUnfinished) override;
    std::optional<FindRequest> askFind(const FindRequest& last) override;
    DownloadJob* chooseCategory(const std::string& title, const std::string& prompt) override;
    std::optional<CategoryAnswer> editCategory(const std::string& title, const CategoryAnswer& start) override;
    std::optional<FolderChangeAnswer> askFolderChange() override;
    std::optional<std::string> askText(const std::string& title, const std::string& start) override;
    std::vector<LinkChoice> selectLinks(const std::vector<LinkChoice>& links) override;
    bool chooseMergeCategories(const DownloadJob& root, std::unordered_set<const DownloadJob*>& ticked) override;
    void openDialog(const std::string& name) override;
    ChooseBackup backupChooser() override;

private:
    QWidget* parent() const { return m_parent.data(); }
    int maxSplit() const;
    JobSheetContext sheetContext() const;
    bool runJobSheet(const std::string& title, DownloadJob& job, JobSheetMode mode,
                     const JobFileChange& changeFile = {});
    // The application's store; none before setApplication.
    Registry* registry() const;
    // Names the dialog and keeps its placement.
    void prepare(QWidget& dialog, const char* section) const;

    QPointer<QWidget> m_parent;
    std::function<DownloadJob*()> m_root;
    std::function<int()> m_maxSplit;
    Application* m_app = nullptr;
    std::function<bool(const std::string&)> m_opener;
};

}  // namespace fetchora

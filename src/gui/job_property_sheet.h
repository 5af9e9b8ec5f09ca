#pragma once
// The job's property sheet ("Add new download", "Properties", "Default
// download properties"), three pages:
//   General    ("JobGeneral_PPG"): URL, referrer, category, save folder with
//              its history and a folder chooser, file name, split count,
//              start mode, comment;
//   Connection ("JobConnection_PPG"): login, the three proxies, the job's
//              switches;
//   Mirrors    ("JobMirrors_PPG"): the alternate URLs.
// OK checks every page first and keeps the sheet open with a message naming
// the field when something is refused (what the user typed stays); then only
// the fields the user changed are written to the record.
//
// For several jobs the record is a sample (shell/shared_job_sheet.h): fields
// the jobs differ on start empty or undecided and stay marked unless the user
// fills them. For the defaults the URL, file name, comment and mirrors are
// hidden.
//
// Thread: the GUI thread. Borrows the record, the category tree, the proxy
// list and the store for the sheet's lifetime.
#include <QDialog>
#include <QStringList>

#include <vector>

#include "shell/user_prompts.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace fetchora {

class DownloadJob;
class ProxyList;
class Registry;

enum class JobSheetMode { OneJob, SeveralJobs, Defaults };

struct JobSheetContext {
    int maxSplit = 10;  // "Max Parallel Num"
    const DownloadJob* categoryRoot = nullptr;  // the categories offered; none: only the job's own
    const ProxyList* proxies = nullptr;  // none: only the job's own choices
    Registry* folderHistory = nullptr;  // where recent folders are kept; none: no history
    // One job: a new name or folder goes through the view, which moves the
    // files; none (a new download, no file yet): the sheet sets them itself.
    JobFileChange changeFile{};
};

class JobPropertySheet final : public QDialog {
    Q_OBJECT
public:
    JobPropertySheet(const QString& title, DownloadJob& job, JobSheetMode mode, const JobSheetContext& context,
                     QWidget* parent = nullptr);

    // Empty when every field holds an acceptable value; otherwise the message,
    // with its page shown and its field focused.
    QString validate();
    // Writes the changed fields to the record (call after validate passed).
    // Empty on success; otherwise why, with the record unchanged (a rename
    // on disk that failed).
    QString apply();

    // A mirror typed by the user: empty when added (or replaced at row),
    // else why it was refused.
    QString addMirror(const QString& url);
    QString editMirror(int row, const QString& url);

    QTabWidget* pages() const { return m_pages; }
    QPushButton* okButton() const { return m_ok; }
    QLineEdit* urlEdit() const { return m_url; }
    QLineEdit* refererEdit() const { return m_referer; }
    QComboBox* categoryBox() const { return m_category; }
    QComboBox* folderBox() const { return m_folder; }
    QLineEdit* folderEdit() const;
    QPushButton* browseButton() const { return m_browse; }
    QLineEdit* fileNameEdit() const { return m_fileName; }
    QComboBox* splitBox() const { return m_split; }
    QComboBox* startModeBox() const { return m_startMode; }
    QPlainTextEdit* commentEdit() const { return m_comment; }
    QCheckBox* loginBox() const { return m_login; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QComboBox* httpProxyBox() const { return m_httpProxy; }
    QComboBox* ftpProxyBox() const { return m_ftpProxy; }
    QComboBox* streamProxyBox() const { return m_streamProxy; }
    QCheckBox* findMirrorsBox() const { return m_findMirrors; }
    QCheckBox* ftpSubdirectoriesBox() const { return m_ftpSubdirectories; }
    QCheckBox* createSubdirectoriesBox() const { return m_createSubdirectories; }
    QCheckBox* createCategoryBox() const { return m_createCategory; }
    QListWidget* mirrorList() const { return m_mirrors; }
    QPushButton* addMirrorButton() const { return m_addMirror; }
    QPushButton* editMirrorButton() const { return m_editMirror; }
    QPushButton* deleteMirrorButton() const { return m_deleteMirror; }

protected:
    void accept() override;

private:
    QWidget* buildGeneral();
    QWidget* buildConnection();
    QWidget* buildMirrors();
    void fillCategories();
    void fillProxies(QComboBox* box, uint16_t current, int kind);
    void categoryChanged();
    void browseFolder();
    void askMirror(int row);
    bool makeFolderExist();
    QString refuse(QWidget* field, const QString& message);

    DownloadJob& m_job;
    JobSheetMode m_mode;
    JobSheetContext m_context;

    QTabWidget* m_pages = nullptr;
    QPushButton* m_ok = nullptr;
    QLineEdit* m_url = nullptr;
    QLineEdit* m_referer = nullptr;
    QComboBox* m_category = nullptr;
    QComboBox* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_fileName = nullptr;
    QComboBox* m_split = nullptr;
    QComboBox* m_startMode = nullptr;
    QPlainTextEdit* m_comment = nullptr;
    QCheckBox* m_login = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QComboBox* m_httpProxy = nullptr;
    QComboBox* m_ftpProxy = nullptr;
    QComboBox* m_streamProxy = nullptr;
    QCheckBox* m_findMirrors = nullptr;
    QCheckBox* m_ftpSubdirectories = nullptr;
    QCheckBox* m_createSubdirectories = nullptr;
    QCheckBox* m_createCategory = nullptr;
    QListWidget* m_mirrors = nullptr;
    QPushButton* m_addMirror = nullptr;
    QPushButton* m_editMirror = nullptr;
    QPushButton* m_deleteMirror = nullptr;

    // What the controls showed when the sheet opened: only fields that
    // differ from it are written back.
    QString m_startUrl, m_startReferer, m_startFolder, m_startFileName, m_startSplit, m_startComment;
    QString m_startUser, m_startPassword;
    int m_startCategory = 0;
    int m_startStartMode = 0;
    int m_startHttpProxy = 0, m_startFtpProxy = 0, m_startStreamProxy = 0;
    QStringList m_startMirrors;
    QString m_previousCategoryFolder;
};

}  // namespace fetchora

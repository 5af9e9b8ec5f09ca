#pragma once
// The job's settings on one small sheet: URL, save folder (with a browse
// button), file name, split count, start mode, referrer, comment, user and
// password. OK writes the fields back through the job's setters; a URL that
// does not parse keeps the dialog open with a message.
//
// Thread: the GUI thread. Borrows the job for its lifetime.
#include <QDialog>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace fetchora {

class DownloadJob;

class JobSheetDialog final : public QDialog {
    Q_OBJECT
public:
    // maxSplit: the upper bound of the split count ("Max Parallel Num").
    JobSheetDialog(const QString& title, DownloadJob& job, int maxSplit, QWidget* parent = nullptr);

    // Copies the fields onto the job; false (and the job unchanged) when the
    // URL is not one the program can download.
    bool apply();

    QLineEdit* urlEdit() const { return m_url; }
    QLineEdit* folderEdit() const { return m_folder; }
    QLineEdit* fileNameEdit() const { return m_fileName; }
    QSpinBox* splitBox() const { return m_split; }
    QComboBox* startModeBox() const { return m_startMode; }
    QLineEdit* refererEdit() const { return m_referer; }
    QLineEdit* commentEdit() const { return m_comment; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }

protected:
    void accept() override;

private:
    void browseFolder();

    DownloadJob& m_job;
    int m_maxSplit;
    QLineEdit* m_url = nullptr;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_fileName = nullptr;
    QSpinBox* m_split = nullptr;
    QComboBox* m_startMode = nullptr;
    QLineEdit* m_referer = nullptr;
    QLineEdit* m_comment = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
};

}  // namespace fetchora

#pragma once
// "Add Previously Downloaded File": the file chosen (its path, date and
// size), the category it is filed under, URL, referrer, comment and whether
// it moves into the category's folder. The same dialog takes over a broken
// download; its URL must then be one a job can fetch, since the job resumes
// from it.
//
// The two commands: "Import Previous File" adds a completed job (its fields
// filled from the file's companion information file when there is one),
// "Import Broken Downloads" a Ready, Manual job that resumes where the file
// ends, always in "Download".
//
// Thread: the GUI thread (the loop thread).
#include <QDialog>

#include "lists/previous_import.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace fetchora {

class Application;
class MainView;

enum class PreviousFileMode { Completed, Broken };

class PreviousFileDialog final : public QDialog {
    Q_OBJECT
public:
    // root: the category tree; start: the prefilled answers.
    PreviousFileDialog(PreviousFileMode mode, const DiskFile& file, DownloadJob* root, const ImportChoice& start,
                       QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "AddPrevious_Dlg";

    ImportChoice choice() const;
    // Empty when OK may close; otherwise why not.
    QString validate() const;

    QLabel* fileLabel() const { return m_file; }
    QLabel* dateLabel() const { return m_date; }
    QLabel* sizeLabel() const { return m_size; }
    QComboBox* categoryBox() const { return m_category; }
    QLineEdit* urlEdit() const { return m_url; }
    QLineEdit* refererEdit() const { return m_referer; }
    QLineEdit* commentEdit() const { return m_comment; }
    QCheckBox* moveBox() const { return m_move; }

public slots:
    void accept() override;

private:
    PreviousFileMode m_mode;
    QLabel* m_file = nullptr;
    QLabel* m_date = nullptr;
    QLabel* m_size = nullptr;
    QComboBox* m_category = nullptr;
    QLineEdit* m_url = nullptr;
    QLineEdit* m_referer = nullptr;
    QLineEdit* m_comment = nullptr;
    QCheckBox* m_move = nullptr;
};

// The dialog and the import for a chosen file; the job added, if any.
DownloadJob* importChosenFile(Application& app, MainView& view, PreviousFileMode mode,
                              const std::filesystem::path& path, QWidget* parent);
// The whole commands: the file chooser first.
void showImportPreviousFile(Application& app, MainView& view, QWidget* parent);
void showImportBrokenDownload(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora

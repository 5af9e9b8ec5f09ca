#pragma once
// "Add Previously Downloaded Batch File": every file of a folder (and of its
// sub-folders when asked) becomes a completed job under the chosen category,
// or, with "Auto Create Category", under a new category per folder.
//
// Thread: the GUI thread (the loop thread).
#include <QDialog>

#include "lists/previous_import.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace fetchora {

class Application;
class MainView;

class PreviousBatchDialog final : public QDialog {
    Q_OBJECT
public:
    PreviousBatchDialog(DownloadJob* root, const DownloadJob* current, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "AddPreviousBatch_Dlg";

    FolderImportOptions options() const;
    // Empty when OK may close: the folder exists.
    QString validate() const;

    QLineEdit* folderEdit() const { return m_folder; }
    QCheckBox* subFoldersBox() const { return m_subFolders; }
    QComboBox* categoryBox() const { return m_category; }
    QCheckBox* autoCategoryBox() const { return m_autoCategory; }

public slots:
    void accept() override;

private:
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QCheckBox* m_subFolders = nullptr;
    QComboBox* m_category = nullptr;
    QCheckBox* m_autoCategory = nullptr;
};

// The dialog and the import, then "Total add %d files.". The number added.
int showImportPreviousBatch(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora

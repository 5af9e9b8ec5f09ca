#pragma once
// "Recently Downloaded File": the completed files, newest first, with their
// size, completion time and folder; Open hands the chosen file to the
// desktop, Open Folder shows it in the file manager.
//
// Thread: the GUI thread (the loop thread). The rows are copies taken when
// the dialog opens; it never reads a job afterwards.
#include <QDialog>

#include <vector>

#include "shell/list_commands.h"

class QPushButton;
class QTreeWidget;

namespace fetchora {

class DesktopActions;

class RecentFilesDialog final : public QDialog {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, CompletedColumn, FolderColumn, ColumnCount };

    RecentFilesDialog(std::vector<RecentFile> files, DesktopActions& desktop, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "RecentFiles_Dlg";

    QTreeWidget* list() const { return m_list; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* folderButton() const { return m_folder; }

    // The chosen row's file: opened, or shown in its folder. False (and
    // said) when the file is gone or the desktop could not do it.
    bool openChosen();
    bool showChosenInFolder();

private:
    const RecentFile* chosen() const;
    void updateEnabled();

    std::vector<RecentFile> m_files;
    DesktopActions& m_desktop;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_folder = nullptr;
};

void showRecentFiles(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora

#pragma once
// "Restore download database": shown when the database of the start is
// damaged or missing and backups of it exist. It says what happened and
// lists the backups (name, size, modification time), newest first and
// chosen; OK restores the chosen one, Cancel keeps what the damaged file
// gave (a new database when it is missing).
//
// Thread: the GUI thread, before the main view opens the database.
#include <QDialog>

#include <filesystem>
#include <optional>

#include "model/database_file.h"

class QTreeWidget;

namespace fetchora {

class Registry;

class BackupChooser final : public QDialog {
    Q_OBJECT
public:
    explicit BackupChooser(const BackupChoice& choice, QWidget* parent = nullptr);

    QTreeWidget& list() const { return *m_list; }
    // The backup whose row is current; none when there is no row.
    std::optional<std::filesystem::path> chosen() const;

private:
    QTreeWidget* m_list = nullptr;
};

// The dialog, modally; none for Cancel.
std::optional<std::filesystem::path> chooseBackupFile(const BackupChoice& choice, QWidget* parent,
                                                      Registry* registry = nullptr);
// What DatabaseOpenOptions::chooseBackup takes, showing the dialog over
// parent (which must outlive the function's use).
ChooseBackup backupChooser(QWidget* parent, Registry* registry = nullptr);

}  // namespace fetchora

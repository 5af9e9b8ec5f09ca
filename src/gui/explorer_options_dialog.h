#pragma once
// "Site Explorer Options": the file types the explorer reads as pages and
// the retries of its fetches. What is kept and how it is bounded is
// shell/explorer_commands.h's; the dialog only shows and edits it.
//
// Thread: the GUI thread. Borrows the application.
#include <QDialog>

#include "shell/explorer_commands.h"

class QLineEdit;
class QSpinBox;

namespace fetchora {

class Application;

class ExplorerOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    ExplorerOptionsDialog(const ExplorerOptions& options, QWidget* parent = nullptr);
    ExplorerOptions options() const;

private:
    QLineEdit* m_types = nullptr;
    QSpinBox* m_retries = nullptr;
};

// Shows the dialog over parent and stores what was accepted; true then.
bool editExplorerOptions(Application& app, QWidget* parent);

}  // namespace fetchora

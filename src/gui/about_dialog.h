#pragma once
// The "About Fetchora" box: the program's icon, name and version, what it
// does, the Qt it runs on and the licence line.
//
// Thread: the GUI thread.
#include <QDialog>

namespace fetchora {

class Registry;

// The version the build was made with ("0.1.0").
QString programVersion();

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

// Shows the box modally; its placement is kept in the store when given.
void showAboutDialog(QWidget* parent, Registry* registry);

}  // namespace fetchora

#pragma once
// Opens the dialogs the main view asks for by command number (options,
// download rules, site properties, ...) with what each needs from the
// application and the view.
//
// Thread: the GUI thread. Borrows the application, the view and the parent.
#include <string>

class QWidget;

namespace fetchora {

class Application;
class MainView;

class DialogOpener {
public:
    DialogOpener(Application& app, MainView& view, QWidget* parent);

    // False when there is no dialog for that name.
    bool open(const std::string& name);

private:
    Application& m_app;
    MainView& m_view;
    QWidget* m_parent;
};

}  // namespace fetchora

#pragma once
// "Process Web Page File": a saved page is chosen, then "Enter URL" asks
// where the page was located (a box with the last ten answers); the page's
// links go to "Select links" and become jobs.
//
// Thread: the GUI thread (the loop thread).
#include <QDialog>

#include <filesystem>
#include <string>
#include <vector>

class QComboBox;

namespace fetchora {

class Application;
class MainView;

// "Enter URL": an editable box over the history, newest first.
class EnterUrlDialog final : public QDialog {
    Q_OBJECT
public:
    explicit EnterUrlDialog(const std::vector<std::string>& history, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "EnterUrl_Dlg";

    std::string url() const;
    QComboBox* urlBox() const { return m_url; }

private:
    QComboBox* m_url = nullptr;
};

// Asks for the base URL of the page and processes it. False when the user
// cancelled or the page had no link (said with a warning).
bool processSavedPage(Application& app, MainView& view, const std::filesystem::path& page, QWidget* parent);
// The whole command: the page chooser first.
void showProcessWebPage(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora

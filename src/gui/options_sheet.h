#pragma once
// The "Options" sheet: a list of pages on the left, the chosen page on the
// right, OK and Cancel below. Opening fills every page from the settings; OK
// checks every page first (the first page that refuses is shown with its
// message and nothing is written), then applies all pages in one
// Application::changeSettings, which saves at once. Cancel writes nothing.
// The page shown last is remembered for the rest of the run.
//
// Thread: the GUI thread. Borrows the application; owns its pages.
#include <QDialog>

#include <filesystem>
#include <functional>

class QListWidget;
class QStackedWidget;

namespace fetchora {

class Application;
class OptionsPage;

// Where the Proxy page goes among the standard pages (after Protocol); the
// Login page goes last.
inline constexpr int kProxyPagePosition = 3;

// Plays a sound file for the Sounds page's "Test" buttons.
using SoundPlayer = std::function<void(const std::filesystem::path&)>;

class OptionsSheet final : public QDialog {
    Q_OBJECT
public:
    explicit OptionsSheet(Application& app, QWidget* parent = nullptr);

    // The sheet takes ownership of the page.
    void addPage(OptionsPage* page);
    void insertPage(int index, OptionsPage* page);

    int pageCount() const;
    OptionsPage* page(int index) const;
    int currentIndex() const;
    void setCurrentIndex(int index);

    // Fills every page from the settings; done when the sheet is shown.
    void loadPages();
    // The checks and the write of OK; false (the sheet stays open) when a
    // page refused, after showing it and its message.
    bool applyPages();

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rememberCurrent();

    Application& m_app;
    QListWidget* m_list = nullptr;
    QStackedWidget* m_stack = nullptr;
    bool m_loaded = false;
};

// The standard pages in their order: General, Connection, Protocol, Monitor,
// Graph/Log, File Manager, Dial-Up Networking, Sounds, Other, Schedule,
// Mirrors.
void addStandardPages(OptionsSheet& sheet, SoundPlayer player);

// Opens the sheet modally with the standard pages and whatever addMore adds
// (the Proxy and Login pages). True when the user pressed OK.
bool showOptionsSheet(Application& app, QWidget* parent, const std::function<void(OptionsSheet&)>& addMore = {});

}  // namespace fetchora

#pragma once
// "CheckNew_Dlg" in its two modes: the version check (a text line and
// Close) and the language packs (also the list of packs that can be
// updated, with "&Update"). The work is the UpdateSession's; the dialog
// shows its text, a busy bar while a fetch runs, the packs, and the result.
// Close (or Escape) while a fetch runs cancels it.
//
// Thread: the GUI thread (the loop thread).
#include <QDialog>

#include <memory>

#include "shell/update_session.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace fetchora {

class Application;
class DesktopActions;

class CheckNewDialog final : public QDialog, private UpdateListener {
    Q_OBJECT
public:
    CheckNewDialog(Application& app, UpdateSetup setup, DesktopActions& desktop, UpdateMode mode,
                   QWidget* parent = nullptr);
    ~CheckNewDialog() override;

    static constexpr const char* kSectionName = "CheckNew_Dlg";

    UpdateMode mode() const { return m_mode; }
    bool busy() const { return m_session->busy(); }
    QLabel* statusLabel() const { return m_status; }
    QTreeWidget* packList() const { return m_list; }
    QPushButton* updateButton() const { return m_update; }
    QPushButton* closeButton() const { return m_close; }
    QProgressBar* progressBar() const { return m_progress; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startUpdate();
    void setBusy(bool busy);
    // UpdateListener
    void statusChanged(const std::string& text) override;
    void packsListed(const std::vector<LanguagePackRow>& rows) override;
    bool askOpenDownloadPage(const std::string& question) override;
    void ended(const std::string& text) override;

    UpdateMode m_mode;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_close = nullptr;
    std::vector<LanguagePackRow> m_rows;
    bool m_started = false;
    std::unique_ptr<UpdateSession> m_session;
};

// Runs the dialog modally with the application's update setup.
void showCheckNewDialog(Application& app, DesktopActions& desktop, UpdateMode mode, QWidget* parent);

}  // namespace fetchora

#pragma once
// "Select links": the links of a list or a page, narrowed by two tick lists,
// the distinct hosts ("&Host Name:") and file extensions ("&File
// Extension:"), each with an "All" box that shows ticked, unticked or mixed.
// Only links whose host and extension are both ticked stay in the list of
// links below, where each can still be unticked on its own. The filter itself
// is LinkSelection's; the dialog draws it.
//
// Thread: the GUI thread. Owns copies of the links.
#include <QDialog>

#include <vector>

#include "lists/link_selection.h"
#include "shell/user_prompts.h"

class QCheckBox;
class QListWidget;
class QListWidgetItem;

namespace fetchora {

class SelectLinksDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kSection = "SelectLinks_Dlg";

    explicit SelectLinksDialog(const std::vector<LinkChoice>& links, QWidget* parent = nullptr);

    // The links shown (host and extension ticked) whose own box is ticked,
    // in the order given.
    std::vector<LinkChoice> chosen() const;

    QListWidget* hostList() const { return m_hosts; }
    QListWidget* extensionList() const { return m_extensions; }
    QCheckBox* allHosts() const { return m_allHosts; }
    QCheckBox* allExtensions() const { return m_allExtensions; }
    QListWidget* linkList() const { return m_links; }

private:
    QListWidget* tickList(const TickList& entries, int id);
    // A box of a tick list was clicked: the filter follows it.
    void entryChanged(TickList& entries, QListWidgetItem* item);
    void allClicked(TickList& entries);
    // The boxes and the shown links follow the filter.
    void refresh();

    std::vector<LinkChoice> m_choices;  // only those that are URLs
    std::vector<LinkKeys> m_keys;  // of m_choices
    LinkSelection m_selection;
    QListWidget* m_hosts = nullptr;
    QListWidget* m_extensions = nullptr;
    QCheckBox* m_allHosts = nullptr;
    QCheckBox* m_allExtensions = nullptr;
    QListWidget* m_links = nullptr;
    bool m_refreshing = false;
};

}  // namespace fetchora

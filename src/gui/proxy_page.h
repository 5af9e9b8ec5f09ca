#pragma once
// The "Proxy" options page: the proxy list (entry 0 is the direct connection
// and cannot be deleted), the default proxies for HTTP, FTP and streams, the
// switch that makes every job use those defaults and the resume rollback.
// Import and export read and write the one-proxy-a-line text form.
//
// Every edit goes to the page's own copy of the list; apply() brings the
// settings' list to exactly that copy. Entries that stay are changed in
// place and keep their place, so running jobs keep pointing at the same
// entries; removals and changes take the job lock.
//
// Thread: the GUI thread. Borrows the job lock for its lifetime.
#include <QString>

#include <memory>
#include <vector>

#include "config/proxy_list.h"
#include "gui/options_page.h"
#include "platform/job_lock.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace fetchora {

class ProxyPage final : public OptionsPage {
    Q_OBJECT
public:
    explicit ProxyPage(JobLock& lock, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "Proxy_PPG";

    void load(const AppSettings& settings) override;
    QString validate() override;
    void apply(AppSettings& settings) override;

    // After apply: for each index the settings' list had before, the index
    // that entry has now; 0 (the direct connection) for a deleted entry. The
    // site rules are renumbered with it; whoever keeps proxy indices
    // elsewhere (the jobs) should be too.
    const std::vector<int>& renumbered() const { return m_renumbered; }

    // The list as the page holds it now, with its default indices.
    const ProxyList& entries() const { return *m_work; }

    // What the Add, Edit and Delete buttons do after their dialog. Of the
    // direct connection (row 0) only the flags change; it is never removed.
    void addEntry(const ProxyEntry& entry);
    bool replaceEntry(size_t row, const ProxyEntry& entry);
    bool removeEntry(size_t row);

    // Adds the proxies of a text file, leaving out those already listed.
    // Empty on success (`added` receives how many were new); otherwise a
    // message naming the file, and the list is unchanged: a file that cannot
    // be read, is too large, or holds a line that is not a proxy.
    QString importFrom(const QString& file, int* added = nullptr);
    // Writes the list to a text file. Empty on success, else a message
    // naming the file.
    QString exportTo(const QString& file) const;

    QTreeWidget* list() const { return m_list; }
    QComboBox* httpDefaultBox() const { return m_httpDefault; }
    QComboBox* ftpDefaultBox() const { return m_ftpDefault; }
    QComboBox* streamDefaultBox() const { return m_streamDefault; }
    QCheckBox* useDefaultsBox() const { return m_useDefaults; }
    QSpinBox* rollbackBox() const { return m_rollback; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* deleteButton() const { return m_delete; }

private:
    void rebuild();
    void updateButtons();
    void onAdd();
    void onEdit();
    void onDelete();
    void onImport();
    void onExport();
    int currentRow() const;

    JobLock& m_lock;
    // The page's copy; its own lock only satisfies RemoveProxy, no other
    // thread sees this list.
    std::unique_ptr<ProxyList> m_work;
    JobLock m_workLock;
    // For each row of the copy, the index it had in the settings' list when
    // the page loaded; -1 for rows added since. Rows that came from the
    // settings always precede the added ones.
    std::vector<int> m_origin;
    size_t m_loadedCount = 0;
    std::vector<int> m_renumbered;

    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_export = nullptr;
    QComboBox* m_httpDefault = nullptr;
    QComboBox* m_ftpDefault = nullptr;
    QComboBox* m_streamDefault = nullptr;
    QCheckBox* m_useDefaults = nullptr;
    QSpinBox* m_rollback = nullptr;
};

}  // namespace fetchora

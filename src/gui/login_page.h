#pragma once
// The "Login" options page: the site rules (per-site login, connection limit
// and proxies), with Add, Edit and Delete through the site rule dialog.
// Passwords never appear in the list.
//
// Edits go to the page's own copy; apply() brings the settings' rules to
// exactly that copy, changing kept rules in place (running jobs may hold
// them) under the job lock. A rule the user did not change is not written,
// so what the proxy page did to it in the same sheet (renumbering its
// proxies after a deletion) stays.
//
// Thread: the GUI thread. Borrows the job lock for its lifetime.
#include <QStringList>

#include <vector>

#include "config/site_rules.h"
#include "gui/options_page.h"
#include "platform/job_lock.h"

class QPushButton;
class QTreeWidget;

namespace fetchora {

class LoginPage final : public OptionsPage {
    Q_OBJECT
public:
    explicit LoginPage(JobLock& lock, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "Login_PPG";

    void load(const AppSettings& settings) override;
    QString validate() override;
    void apply(AppSettings& settings) override;

    // The rules as the page holds them now.
    const std::vector<SiteRule>& rules() const { return m_rules; }
    // A rule for a new site, following the proxy defaults loaded.
    const SiteRule& newRule() const { return m_newRule; }
    const QStringList& proxyNames() const { return m_proxyNames; }

    // What the buttons do after their dialog.
    void addRule(const SiteRule& rule);
    bool replaceRule(size_t row, const SiteRule& rule);
    bool removeRule(size_t row);

    QTreeWidget* list() const { return m_list; }

private:
    void rebuild();
    void updateButtons();
    void onAdd();
    void onEdit();
    void onDelete();
    int currentRow() const;

    JobLock& m_lock;
    std::vector<SiteRule> m_rules;
    // For each row, the index the rule had in the settings when the page
    // loaded; -1 for rules added since, which always follow the loaded ones.
    std::vector<int> m_origin;
    // The rules as loaded, to tell which ones the user changed.
    std::vector<SiteRule> m_loaded;
    SiteRule m_newRule;
    QStringList m_proxyNames;

    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
};

}  // namespace fetchora

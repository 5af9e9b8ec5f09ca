#pragma once
// "Download Rules": the ordered list of rules that file a new job into a
// category by the site it comes from or by its file-name extension. The
// first enabled rule that matches decides, so the order can be changed.
// The fields below the list edit the selected rule; the category is chosen
// from the category tree. Nothing reaches the settings until OK.
//
// Thread: the GUI thread (the loop thread). Borrows the category tree for
// its lifetime.
#include <QDialog>

#include "config/download_rules.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace fetchora {

class Application;
class DownloadJob;

class DownloadRulesDialog final : public QDialog {
    Q_OBJECT
public:
    // root: the category tree's root; its categories that jobs can be filed
    // into (Downloaded and the user's own) are offered as targets.
    DownloadRulesDialog(const DownloadRuleList& rules, const DownloadJob* root, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "DownloadRules_Dlg";

    // The rules as the dialog holds them now.
    const DownloadRuleList& rules() const { return m_rules; }

    // Adds an enabled rule named "New download rule #n", filing by extension
    // into the first offered category, and selects it.
    void addRule();
    bool removeRule(int row);
    bool moveRule(int row, int delta);
    void selectRow(int row);
    int currentRow() const;

    // Empty when every enabled rule has a condition value and names an
    // existing category; otherwise the message, with that rule selected.
    QString validate();

    QTreeWidget* list() const { return m_list; }
    QLineEdit* nameEdit() const { return m_name; }
    QComboBox* conditionBox() const { return m_condition; }
    QLineEdit* valueEdit() const { return m_value; }
    QComboBox* categoryBox() const { return m_category; }
    QCheckBox* enabledBox() const { return m_enabled; }

public slots:
    void accept() override;

private:
    void rebuild();
    void showRule();
    void storeRule();
    void fillRow(int row);
    QString categoryName(const std::string& id) const;

    DownloadRuleList m_rules;
    // Set while the fields are being filled from a rule.
    bool m_filling = false;

    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_condition = nullptr;
    QLineEdit* m_value = nullptr;
    QComboBox* m_category = nullptr;
    QCheckBox* m_enabled = nullptr;
};

// Runs the dialog over the application's download rules and, on OK, stores
// them through Application::changeSettings. True when the rules were
// changed and saved. root: the category tree's root (may be none).
bool showDownloadRules(Application& app, DownloadJob* root, QWidget* parent);

}  // namespace fetchora

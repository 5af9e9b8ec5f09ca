#include "gui/download_rules_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/category_box.h"
#include "gui/form_label_ids.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "model/download_job.h"
#include "shell/application.h"

namespace fetchora {

namespace {

constexpr uint32_t kStrNoSuchCategory = 41812;
constexpr uint32_t kStrConditionSite = 41813;
constexpr uint32_t kStrConditionExtension = 41814;
constexpr uint32_t kStrConditionNone = 41815;
constexpr uint32_t kStrChooseCondition = 41816;
constexpr uint32_t kStrEnterSite = 41817;
constexpr uint32_t kStrEnterExtensions = 41818;
constexpr uint32_t kStrChooseRuleCategory = 41819;
constexpr uint32_t kStrRuleProblem = 41820;  // "%1" the rule's name, "%2" the problem

enum Column { NameColumn, ConditionColumn, ValueColumn, CategoryColumn };

uint32_t conditionOf(const DownloadRule& rule)
{
    return rule.flags & kRuleConditionMask;
}

bool offeredCategory(const DownloadJob& node)
{
    return node.IsCategory()
        && (node.GetCategoryKind() == CategoryKind::User || node.GetCategoryKind() == CategoryKind::Downloaded);
}

void addCategories(QComboBox* box, const DownloadJob* node, int depth)
{
    for (const DownloadJob* child = node->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            continue;
        int childDepth = depth;
        if (offeredCategory(*child)) {
            // Indented by depth, so the tree's shape shows in the flat list.
            box->addItem(QString(depth * 4, u' ') + qText(child->GetDisplayName()), child->id);
            ++childDepth;
        }
        addCategories(box, child, childDepth);
    }
}

}  // namespace

DownloadRulesDialog::DownloadRulesDialog(const DownloadRuleList& rules, const DownloadJob* root, QWidget* parent)
    : QDialog(parent), m_rules(rules)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Download Rules"));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels({tr("Rule"), tr("Condition"), tr("Value"), tr("Category")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_add = new QPushButton(tr("&New"), this);
    m_delete = new QPushButton(tr("&Delete"), this);
    m_up = new QPushButton(tr("Move &Up"), this);
    m_down = new QPushButton(tr("Move Do&wn"), this);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* button : {m_add, m_delete, m_up, m_down})
        listButtons->addWidget(button);
    listButtons->addStretch(1);

    auto* form = new QFormLayout;
    m_enabled = new QCheckBox(tr("&Enabled"), this);
    form->addRow(m_enabled);
    m_name = new QLineEdit(this);
    form->addRow(tr("&Name:"), m_name);
    m_condition = new QComboBox(this);
    m_condition->addItem(tr("Where the file is from a specific site"), kRuleFromSite);
    m_condition->addItem(tr("Where the filename extension is a specific string"), kRuleExtension);
    form->addRow(tr("C&ondition:"), m_condition);
    m_value = new QLineEdit(this);
    setUiText(m_value, kStrRuleValueTip, UiTextRole::ToolTip);
    form->addRow(tr("&Value:"), m_value);
    m_category = new QComboBox(this);
    if (root)
        addCategories(m_category, root, 0);
    retextCategoryItems(m_category, [root] { return root; });
    form->addRow(tr("Move it to the &category:"), m_category);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DownloadRulesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(listButtons);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_value->setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    int id = 1401;
    for (QObject* control : std::initializer_list<QObject*>{m_list, m_add, m_delete, m_up, m_down, m_enabled, m_name,
                                                            m_condition, m_value, m_category})
        setControlId(control, id++);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);
    setFormLabelIds(form);

    connect(m_add, &QPushButton::clicked, this, &DownloadRulesDialog::addRule);
    connect(m_delete, &QPushButton::clicked, this, [this] { removeRule(currentRow()); });
    connect(m_up, &QPushButton::clicked, this, [this] { moveRule(currentRow(), -1); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveRule(currentRow(), 1); });
    connect(m_list, &QTreeWidget::currentItemChanged, this, &DownloadRulesDialog::showRule);
    connect(m_name, &QLineEdit::textEdited, this, &DownloadRulesDialog::storeRule);
    connect(m_value, &QLineEdit::textEdited, this, &DownloadRulesDialog::storeRule);
    connect(m_condition, &QComboBox::currentIndexChanged, this, &DownloadRulesDialog::storeRule);
    connect(m_category, &QComboBox::currentIndexChanged, this, &DownloadRulesDialog::storeRule);
    connect(m_enabled, &QCheckBox::toggled, this, &DownloadRulesDialog::storeRule);
    rebuild();
    selectRow(0);
}

int DownloadRulesDialog::currentRow() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    return item ? m_list->indexOfTopLevelItem(item) : -1;
}

void DownloadRulesDialog::selectRow(int row)
{
    if (row >= 0 && row < m_list->topLevelItemCount())
        m_list->setCurrentItem(m_list->topLevelItem(row));
    showRule();
}

void DownloadRulesDialog::addRule()
{
    DownloadRule rule;
    rule.flags = kRuleEnabled | kRuleExtension;
    rule.name = m_rules.newDownloadRuleName();
    if (m_category->count() > 0)
        rule.var2 = std::to_string(m_category->itemData(0).toInt());
    m_rules.AddDownloadRule(rule);
    rebuild();
    selectRow(m_list->topLevelItemCount() - 1);
    m_name->setFocus();
}

bool DownloadRulesDialog::removeRule(int row)
{
    std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    if (!rules || row < 0 || row >= static_cast<int>(rules->size()))
        return false;
    rules->erase(rules->begin() + row);
    rebuild();
    selectRow(std::min(row, m_list->topLevelItemCount() - 1));
    return true;
}

bool DownloadRulesDialog::moveRule(int row, int delta)
{
    std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    const int to = row + delta;
    if (!rules || row < 0 || to < 0 || row >= static_cast<int>(rules->size()) || to >= static_cast<int>(rules->size()))
        return false;
    std::swap((*rules)[static_cast<size_t>(row)], (*rules)[static_cast<size_t>(to)]);
    rebuild();
    selectRow(to);
    return true;
}

QString DownloadRulesDialog::categoryName(const std::string& id) const
{
    const int index = m_category->findData(QString::fromStdString(id).toInt());
    if (index < 0 || id.empty())
        return uiString(kStrNoSuchCategory);
    return m_category->itemText(index).trimmed();
}

void DownloadRulesDialog::fillRow(int row)
{
    const std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (!rules || !item || row >= static_cast<int>(rules->size()))
        return;
    const DownloadRule& rule = (*rules)[static_cast<size_t>(row)];
    item->setText(NameColumn, qText(rule.name));
    item->setCheckState(NameColumn, (rule.flags & kRuleEnabled) != 0 ? Qt::Checked : Qt::Unchecked);
    const uint32_t condition = conditionOf(rule);
    item->setText(ConditionColumn,
                  condition == kRuleFromSite        ? uiString(kStrConditionSite)
                      : condition == kRuleExtension ? uiString(kStrConditionExtension)
                                                    : uiString(kStrConditionNone));
    item->setText(ValueColumn, qText(rule.var1));
    item->setText(CategoryColumn, categoryName(rule.var2));
}

void DownloadRulesDialog::rebuild()
{
    const QSignalBlocker block(m_list);
    m_list->clear();
    if (const std::vector<DownloadRule>* rules = m_rules.DownloadRules()) {
        for (size_t i = 0; i < rules->size(); ++i) {
            new QTreeWidgetItem(m_list);
            fillRow(static_cast<int>(i));
        }
    }
    const bool any = m_list->topLevelItemCount() > 0;
    m_delete->setEnabled(any);
    m_up->setEnabled(any);
    m_down->setEnabled(any);
}

void DownloadRulesDialog::showRule()
{
    const int row = currentRow();
    const std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    const bool shown = rules && row >= 0 && row < static_cast<int>(rules->size());
    for (QWidget* field : std::initializer_list<QWidget*>{m_enabled, m_name, m_condition, m_value, m_category})
        field->setEnabled(shown);
    m_filling = true;
    if (shown) {
        const DownloadRule& rule = (*rules)[static_cast<size_t>(row)];
        m_enabled->setChecked((rule.flags & kRuleEnabled) != 0);
        m_name->setText(qText(rule.name));
        m_condition->setCurrentIndex(m_condition->findData(conditionOf(rule)));
        m_value->setText(qText(rule.var1));
        m_category->setCurrentIndex(m_category->findData(QString::fromStdString(rule.var2).toInt()));
    } else {
        m_name->clear();
        m_value->clear();
        m_condition->setCurrentIndex(-1);
        m_category->setCurrentIndex(-1);
    }
    m_filling = false;
}

void DownloadRulesDialog::storeRule()
{
    const int row = currentRow();
    std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    if (m_filling || !rules || row < 0 || row >= static_cast<int>(rules->size()))
        return;
    DownloadRule& rule = (*rules)[static_cast<size_t>(row)];
    rule.name = m_name->text().trimmed().toStdString();
    rule.var1 = m_value->text().trimmed().toStdString();
    // A condition this program does not know stays until one is chosen.
    if (m_condition->currentIndex() >= 0)
        rule.flags = (rule.flags & ~kRuleConditionMask) | m_condition->currentData().toUInt();
    rule.flags = m_enabled->isChecked() ? (rule.flags | kRuleEnabled) : (rule.flags & ~kRuleEnabled);
    if (m_category->currentIndex() >= 0)
        rule.var2 = std::to_string(m_category->currentData().toInt());
    fillRow(row);
}

QString DownloadRulesDialog::validate()
{
    const std::vector<DownloadRule>* rules = m_rules.DownloadRules();
    if (!rules)
        return {};
    for (size_t i = 0; i < rules->size(); ++i) {
        const DownloadRule& rule = (*rules)[i];
        if ((rule.flags & kRuleEnabled) == 0)
            continue;
        const uint32_t condition = conditionOf(rule);
        QString problem;
        if (condition != kRuleFromSite && condition != kRuleExtension)
            problem = uiString(kStrChooseCondition);
        else if (rule.var1.empty())
            problem = uiString(condition == kRuleFromSite ? kStrEnterSite : kStrEnterExtensions);
        else if (m_category->findData(QString::fromStdString(rule.var2).toInt()) < 0)
            problem = uiString(kStrChooseRuleCategory);
        if (!problem.isEmpty()) {
            selectRow(static_cast<int>(i));
            QWidget* field = condition != kRuleFromSite && condition != kRuleExtension
                ? static_cast<QWidget*>(m_condition)
                : rule.var1.empty() ? static_cast<QWidget*>(m_value)
                                    : m_category;
            field->setFocus();
            return uiString(kStrRuleProblem).arg(qText(rule.name), problem);
        }
    }
    return {};
}

void DownloadRulesDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

bool showDownloadRules(Application& app, DownloadJob* root, QWidget* parent)
{
    DownloadRulesDialog dialog(app.settings().downloadRules(), root, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const DownloadRuleList rules = dialog.rules();
    return app.changeSettings([&rules](AppSettings& settings) { settings.downloadRules() = rules; });
}

}  // namespace fetchora

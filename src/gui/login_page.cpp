#include "gui/login_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/app_settings.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/site_rule_dialog.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

bool sameRule(const SiteRule& a, const SiteRule& b)
{
    return a.urlMask == b.urlMask && a.userName == b.userName && a.password == b.password && a.flags == b.flags
        && a.connection == b.connection && a.proxy == b.proxy;
}

}  // namespace

LoginPage::LoginPage(JobLock& lock, QWidget* parent) : OptionsPage(kSectionName, tr("Login"), parent), m_lock(lock)
{
    setObjectName(QString::fromLatin1(kSectionName));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels(uiList(kStrLoginColumns));
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_add = new QPushButton(tr("&Add..."), this);
    m_edit = new QPushButton(tr("&Edit..."), this);
    m_delete = new QPushButton(tr("&Delete"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_edit);
    buttons->addWidget(m_delete);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    int id = 1201;
    for (QObject* control : std::initializer_list<QObject*>{m_list, m_add, m_edit, m_delete})
        setControlId(control, id++);

    connect(m_add, &QPushButton::clicked, this, &LoginPage::onAdd);
    connect(m_edit, &QPushButton::clicked, this, &LoginPage::onEdit);
    connect(m_delete, &QPushButton::clicked, this, &LoginPage::onDelete);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &LoginPage::onEdit);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &LoginPage::updateButtons);
    rebuild();
    onLanguageChanged(this, [this] {
        m_list->setHeaderLabels(uiList(kStrLoginColumns));
        rebuild();
    });
}

void LoginPage::load(const AppSettings& settings)
{
    const SiteRuleList& stored = settings.siteRules();
    m_rules.clear();
    m_origin.clear();
    for (size_t i = 0; i < stored.SiteRuleCount(); ++i) {
        m_rules.push_back(*stored.SiteRuleAt(i));
        m_origin.push_back(static_cast<int>(i));
    }
    m_loaded = m_rules;
    m_newRule = newSiteRule(settings.proxies());
    m_proxyNames = fetchora::proxyNames(settings.proxies());
    rebuild();
}

QString LoginPage::validate()
{
    return {};
}

void LoginPage::apply(AppSettings& settings)
{
    {
        JobLockGuard guard(m_lock);
        SiteRuleList& live = settings.siteRules();
        std::vector<bool> kept(m_loaded.size(), false);
        for (int origin : m_origin)
            if (origin >= 0 && static_cast<size_t>(origin) < kept.size())
                kept[static_cast<size_t>(origin)] = true;
        for (size_t i = live.SiteRuleCount(); i-- > 0;)
            if (i >= kept.size() || !kept[i])
                live.RemoveSiteRule(live.SiteRuleAt(i), m_lock);
        for (size_t row = 0; row < m_rules.size(); ++row) {
            const int origin = m_origin[row];
            SiteRule* target = origin >= 0 ? live.SiteRuleAt(row) : nullptr;
            if (target) {
                if (!sameRule(m_rules[row], m_loaded[static_cast<size_t>(origin)]))
                    *target = m_rules[row];
            } else
                live.AddSiteRule(m_rules[row]);
        }
    }
    load(settings);
}

void LoginPage::addRule(const SiteRule& rule)
{
    m_rules.push_back(rule);
    m_origin.push_back(-1);
    rebuild();
    m_list->setCurrentItem(m_list->topLevelItem(m_list->topLevelItemCount() - 1));
}

bool LoginPage::replaceRule(size_t row, const SiteRule& rule)
{
    if (row >= m_rules.size())
        return false;
    m_rules[row] = rule;
    rebuild();
    m_list->setCurrentItem(m_list->topLevelItem(static_cast<int>(row)));
    return true;
}

bool LoginPage::removeRule(size_t row)
{
    if (row >= m_rules.size())
        return false;
    m_rules.erase(m_rules.begin() + static_cast<std::ptrdiff_t>(row));
    m_origin.erase(m_origin.begin() + static_cast<std::ptrdiff_t>(row));
    rebuild();
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(std::min(static_cast<int>(row), m_list->topLevelItemCount() - 1)));
    return true;
}

int LoginPage::currentRow() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    return item ? m_list->indexOfTopLevelItem(item) : -1;
}

void LoginPage::rebuild()
{
    const int row = currentRow();
    m_list->clear();
    for (const SiteRule& rule : m_rules) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, qText(rule.urlMask));
        item->setText(1, qText(rule.userName));
        item->setText(2, (rule.flags & kSiteUnlimited) != 0 ? uiString(kStrUnlimited) : QString::number(rule.connection));
        item->setText(3, (rule.flags & kSiteLogin) != 0 ? uiString(kStrYes) : QString());
    }
    if (row >= 0 && row < m_list->topLevelItemCount())
        m_list->setCurrentItem(m_list->topLevelItem(row));
    updateButtons();
}

void LoginPage::updateButtons()
{
    const bool any = currentRow() >= 0;
    m_edit->setEnabled(any);
    m_delete->setEnabled(any);
}

void LoginPage::onAdd()
{
    SiteRuleDialog dialog(m_newRule, m_proxyNames, this);
    if (dialog.exec() == QDialog::Accepted)
        addRule(dialog.rule());
}

void LoginPage::onEdit()
{
    const int row = currentRow();
    if (row < 0)
        return;
    SiteRuleDialog dialog(m_rules[static_cast<size_t>(row)], m_proxyNames, this);
    if (dialog.exec() == QDialog::Accepted)
        replaceRule(static_cast<size_t>(row), dialog.rule());
}

void LoginPage::onDelete()
{
    const int row = currentRow();
    if (row >= 0)
        removeRule(static_cast<size_t>(row));
}

}  // namespace fetchora

#include "gui/select_links_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/gui_prompts.h"
#include "gui/options_form.h"

namespace fetchora {

namespace {

// Ids of the dialog's controls; a field's label has the field's id + kLabelIdOffset.
constexpr int kLinksId = 10;
constexpr int kSelectAllId = 11;
constexpr int kSelectNoneId = 12;
constexpr int kHostsId = 13;
constexpr int kAllHostsId = 14;
constexpr int kExtensionsId = 15;
constexpr int kAllExtensionsId = 16;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Links that are not URLs have no host to list: they are not offered.
std::vector<LinkChoice> urlsOnly(const std::vector<LinkChoice>& links)
{
    std::vector<LinkChoice> kept;
    for (const LinkChoice& link : links)
        if (!LinkKeysOf(link.url).host.empty())
            kept.push_back(link);
    return kept;
}

std::vector<std::string> urlsOf(const std::vector<LinkChoice>& links)
{
    std::vector<std::string> urls;
    urls.reserve(links.size());
    for (const LinkChoice& link : links)
        urls.push_back(link.url);
    return urls;
}

Qt::CheckState checkState(TriState state)
{
    switch (state) {
    case TriState::Ticked: return Qt::Checked;
    case TriState::Unticked: return Qt::Unchecked;
    case TriState::Mixed: return Qt::PartiallyChecked;
    }
    return Qt::PartiallyChecked;
}

QLabel* labelFor(const QString& text, QWidget* field)
{
    auto* label = new QLabel(text, field->parentWidget());
    label->setBuddy(field);
    setControlId(label, controlId(field) + kLabelIdOffset);
    return label;
}

}  // namespace

SelectLinksDialog::SelectLinksDialog(const std::vector<LinkChoice>& links, QWidget* parent)
    : QDialog(parent), m_choices(urlsOnly(links)), m_selection(urlsOf(m_choices))
{
    setObjectName(QString::fromLatin1(kSection));
    setWindowTitle(tr("Select links"));
    for (const LinkChoice& link : m_choices)
        m_keys.push_back(LinkKeysOf(link.url));

    // The links first: the dialog's first list is the one the user picks from.
    m_links = new QListWidget(this);
    setControlId(m_links, kLinksId);
    for (const LinkChoice& link : m_choices) {
        // One pattern, so that a translation may order the two parts.
        const QString text = link.text.empty() ? q(link.url) : tr("%1  \u2014  %2").arg(q(link.url), q(link.text));
        auto* item = new QListWidgetItem(text, m_links);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }

    m_hosts = tickList(m_selection.hosts(), kHostsId);
    m_extensions = tickList(m_selection.extensions(), kExtensionsId);
    m_allHosts = new QCheckBox(tr("All h&osts"), this);
    m_allExtensions = new QCheckBox(tr("All ext&ensions"), this);
    setControlId(m_allHosts, kAllHostsId);
    setControlId(m_allExtensions, kAllExtensionsId);
    for (QCheckBox* all : {m_allHosts, m_allExtensions})
        all->setTristate(true);
    connect(m_hosts, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { entryChanged(m_selection.hosts(), item); });
    connect(m_extensions, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { entryChanged(m_selection.extensions(), item); });
    connect(m_allHosts, &QCheckBox::clicked, this, [this] { allClicked(m_selection.hosts()); });
    connect(m_allExtensions, &QCheckBox::clicked, this, [this] { allClicked(m_selection.extensions()); });

    auto* filters = new QGridLayout;
    filters->addWidget(labelFor(tr("&Host Name:"), m_hosts), 0, 0);
    filters->addWidget(labelFor(tr("&File Extension:"), m_extensions), 0, 1);
    filters->addWidget(m_allHosts, 1, 0);
    filters->addWidget(m_allExtensions, 1, 1);
    filters->addWidget(m_hosts, 2, 0);
    filters->addWidget(m_extensions, 2, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    setControlId(buttons->button(QDialogButtonBox::Ok), kOkControlId);
    setControlId(buttons->button(QDialogButtonBox::Cancel), kCancelControlId);
    QPushButton* all = buttons->addButton(tr("Select &All"), QDialogButtonBox::ActionRole);
    QPushButton* none = buttons->addButton(tr("Select &None"), QDialogButtonBox::ActionRole);
    setControlId(all, kSelectAllId);
    setControlId(none, kSelectNoneId);
    auto checkShown = [this](Qt::CheckState state) {
        for (int row = 0; row < m_links->count(); ++row)
            if (!m_links->item(row)->isHidden())
                m_links->item(row)->setCheckState(state);
    };
    connect(all, &QPushButton::clicked, this, [checkShown] { checkShown(Qt::Checked); });
    connect(none, &QPushButton::clicked, this, [checkShown] { checkShown(Qt::Unchecked); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters, 1);
    layout->addWidget(labelFor(tr("L&inks:"), m_links));
    layout->addWidget(m_links, 2);
    layout->addWidget(buttons);
    setTabOrder(m_allHosts, m_hosts);
    setTabOrder(m_hosts, m_allExtensions);
    setTabOrder(m_allExtensions, m_extensions);
    setTabOrder(m_extensions, m_links);
    refresh();
    resize(fontMetrics().averageCharWidth() * 80, fontMetrics().height() * 26);
}

QListWidget* SelectLinksDialog::tickList(const TickList& entries, int id)
{
    auto* list = new QListWidget(this);
    setControlId(list, id);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QListWidgetItem(q(entries.entry(i)), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    return list;
}

void SelectLinksDialog::entryChanged(TickList& entries, QListWidgetItem* item)
{
    if (m_refreshing)
        return;
    const auto index = static_cast<std::size_t>(item->listWidget()->row(item));
    if (index < entries.size() && entries.IsTicked(index) != (item->checkState() == Qt::Checked))
        entries.Toggle(index);
    refresh();
}

void SelectLinksDialog::allClicked(TickList& entries)
{
    entries.ClickAll();
    refresh();
}

void SelectLinksDialog::refresh()
{
    m_refreshing = true;
    auto follow = [](const TickList& entries, QListWidget* list, QCheckBox* all) {
        for (int row = 0; row < list->count(); ++row)
            list->item(row)->setCheckState(entries.IsTicked(static_cast<std::size_t>(row)) ? Qt::Checked
                                                                                           : Qt::Unchecked);
        all->setCheckState(checkState(entries.AllState()));
    };
    follow(m_selection.hosts(), m_hosts, m_allHosts);
    follow(m_selection.extensions(), m_extensions, m_allExtensions);
    for (int row = 0; row < m_links->count(); ++row) {
        const LinkKeys& keys = m_keys[static_cast<std::size_t>(row)];
        m_links->item(row)->setHidden(!m_selection.hosts().IsTicked(keys.host)
                                      || !m_selection.extensions().IsTicked(keys.extension));
    }
    m_refreshing = false;
}

std::vector<LinkChoice> SelectLinksDialog::chosen() const
{
    std::vector<LinkChoice> out;
    for (int row = 0; row < m_links->count(); ++row) {
        const QListWidgetItem* item = m_links->item(row);
        if (!item->isHidden() && item->checkState() == Qt::Checked)
            out.push_back(m_choices[static_cast<std::size_t>(row)]);
    }
    return out;
}

}  // namespace fetchora

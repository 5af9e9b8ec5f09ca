#include "gui/proxy_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <string>
#include <string_view>

#include "config/app_settings.h"
#include "config/proxy_text_format.h"
#include "config/site_rules.h"
#include "gui/form_label_ids.h"
#include "gui/gui_prompts.h"
#include "gui/gui_string_ids.h"
#include "gui/proxy_entry_dialog.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "shell/file_filters.h"

namespace fetchora {

namespace {

std::filesystem::path localPath(const QString& file)
{
    return std::filesystem::path(QFile::encodeName(file).toStdString());
}

// The direct connection's entry was named when the list was made, in the
// language of that day; it shows the current language's name.
QString shownProxyName(const ProxyEntry& entry)
{
    return entry.type == kProxyDirect ? uiString(kStrDirectConnection) : proxyDisplayName(entry);
}

void fillDefaultBox(QComboBox* box, const ProxyList& proxies, int32_t current)
{
    const QSignalBlocker block(box);
    box->clear();
    for (size_t i = 0; i < proxies.ProxyCount(); ++i)
        box->addItem(shownProxyName(*proxies.ProxyAt(i)), static_cast<int>(i));
    box->setCurrentIndex(current >= 0 && current < box->count() ? current : 0);
}

// Site rules name proxies by index: after a deletion each must still name
// the entry it named before, or the direct connection when that is gone,
// never whichever entry moved into its place.
void renumberSiteRules(SiteRuleList& rules, const std::vector<int>& renumbered, JobLock& lock)
{
    const auto moved = [&renumbered](unsigned index) {
        return index < renumbered.size() ? static_cast<unsigned>(renumbered[index]) : index;
    };
    JobLockGuard guard(lock);
    for (size_t i = 0; i < rules.SiteRuleCount(); ++i) {
        SiteRule& rule = *rules.SiteRuleAt(i);
        rule.proxy = packSiteProxies(static_cast<uint16_t>(moved(siteHttpProxy(rule))),
                                     static_cast<uint8_t>(moved(siteFtpProxy(rule))),
                                     static_cast<uint8_t>(moved(siteStreamProxy(rule))));
    }
}

}  // namespace

ProxyPage::ProxyPage(JobLock& lock, QWidget* parent)
    : OptionsPage(kSectionName, tr("Proxy"), parent), m_lock(lock), m_work(std::make_unique<ProxyList>())
{
    setObjectName(QString::fromLatin1(kSectionName));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels(uiList(kStrProxyColumns));
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_add = new QPushButton(tr("&Add..."), this);
    m_edit = new QPushButton(tr("&Edit..."), this);
    m_delete = new QPushButton(tr("&Delete"), this);
    m_import = new QPushButton(tr("&Import..."), this);
    m_export = new QPushButton(tr("E&xport..."), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_add, m_edit, m_delete})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_import);
    buttons->addWidget(m_export);

    auto* form = new QFormLayout;
    m_httpDefault = new QComboBox(this);
    form->addRow(tr("&HTTP default:"), m_httpDefault);
    m_ftpDefault = new QComboBox(this);
    form->addRow(tr("&FTP default:"), m_ftpDefault);
    m_streamDefault = new QComboBox(this);
    form->addRow(tr("&Stream default:"), m_streamDefault);
    m_useDefaults = new QCheckBox(tr("&Use the default proxies in all jobs"), this);
    form->addRow(m_useDefaults);
    m_rollback = new QSpinBox(this);
    m_rollback->setRange(kRollbackMin, kRollbackMax);
    m_rollback->setSingleStep(512);
    m_rollback->setSuffix(uiString(kStrBytesSuffix));
    form->addRow(tr("&Rollback when resuming:"), m_rollback);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    layout->addLayout(form);

    int id = 1001;
    for (QObject* control :
         std::initializer_list<QObject*>{m_list, m_add, m_edit, m_delete, m_import, m_export, m_httpDefault,
                                         m_ftpDefault, m_streamDefault, m_useDefaults, m_rollback})
        setControlId(control, id++);
    setFormLabelIds(form);

    connect(m_add, &QPushButton::clicked, this, &ProxyPage::onAdd);
    connect(m_edit, &QPushButton::clicked, this, &ProxyPage::onEdit);
    connect(m_delete, &QPushButton::clicked, this, &ProxyPage::onDelete);
    connect(m_import, &QPushButton::clicked, this, &ProxyPage::onImport);
    connect(m_export, &QPushButton::clicked, this, &ProxyPage::onExport);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &ProxyPage::onEdit);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &ProxyPage::updateButtons);
    const auto follow = [this](QComboBox* box, ProxyDefault which) {
        connect(box, &QComboBox::currentIndexChanged, this,
                [this, which](int index) { m_work->setDefaultIndex(which, std::max(0, index)); });
    };
    follow(m_httpDefault, ProxyDefault::Http);
    follow(m_ftpDefault, ProxyDefault::Ftp);
    follow(m_streamDefault, ProxyDefault::Stream);
    rebuild();
    onLanguageChanged(this, [this] {
        m_list->setHeaderLabels(uiList(kStrProxyColumns));
        m_rollback->setSuffix(uiString(kStrBytesSuffix));
        rebuild();
    });
}

void ProxyPage::load(const AppSettings& settings)
{
    const ProxyList& proxies = settings.proxies();
    m_work = std::make_unique<ProxyList>();
    m_origin.clear();
    for (size_t i = 0; i < proxies.ProxyCount(); ++i) {
        m_work->AddProxy(*proxies.ProxyAt(i), false);
        m_origin.push_back(static_cast<int>(i));
    }
    m_loadedCount = proxies.ProxyCount();
    for (ProxyDefault which : {ProxyDefault::Http, ProxyDefault::Ftp, ProxyDefault::Stream})
        m_work->setDefaultIndex(which, proxies.defaultIndex(which));
    m_work->setRollback(proxies.rollback());
    m_useDefaults->setChecked(settings.GetOption(OptionId::UseDefaultProxies) != 0);
    m_rollback->setValue(proxies.rollback());
    rebuild();
}

QString ProxyPage::validate()
{
    if (!m_rollback->hasAcceptableInput()) {
        m_rollback->setFocus();
        return uiString(kStrRollbackRange).arg(kRollbackMin).arg(kRollbackMax);
    }
    return {};
}

void ProxyPage::apply(AppSettings& settings)
{
    {
        JobLockGuard guard(m_lock);
        ProxyList& live = settings.proxies();
        std::vector<bool> kept(m_loadedCount, false);
        for (int origin : m_origin)
            if (origin >= 0 && static_cast<size_t>(origin) < kept.size())
                kept[static_cast<size_t>(origin)] = true;
        for (size_t i = live.ProxyCount(); i-- > 1;)
            if (i >= kept.size() || !kept[i])
                live.RemoveProxy(i, m_lock);
        // What is left are the kept rows, in the copy's order.
        for (size_t row = 0; row < m_work->ProxyCount(); ++row) {
            ProxyEntry* target = m_origin[row] >= 0 ? live.ProxyAt(row) : nullptr;
            if (target)
                *target = *m_work->ProxyAt(row);
            else
                live.AddProxy(*m_work->ProxyAt(row), false);
        }
    }
    settings.SetOption(OptionId::HttpProxyDefault, m_work->defaultIndex(ProxyDefault::Http));
    settings.SetOption(OptionId::FtpProxyDefault, m_work->defaultIndex(ProxyDefault::Ftp));
    settings.SetOption(OptionId::StreamProxyDefault, m_work->defaultIndex(ProxyDefault::Stream));
    settings.SetOption(OptionId::ProxyRollback, m_rollback->value());
    settings.SetOption(OptionId::UseDefaultProxies, m_useDefaults->isChecked() ? 1 : 0);
    m_renumbered.assign(m_loadedCount, 0);
    for (size_t row = 0; row < m_origin.size(); ++row)
        if (m_origin[row] >= 0 && static_cast<size_t>(m_origin[row]) < m_renumbered.size())
            m_renumbered[static_cast<size_t>(m_origin[row])] = static_cast<int>(row);
    renumberSiteRules(settings.siteRules(), m_renumbered, m_lock);
    // The page goes on from what the settings now hold.
    load(settings);
}

void ProxyPage::addEntry(const ProxyEntry& entry)
{
    m_work->AddProxy(entry, false);
    m_origin.push_back(-1);
    rebuild();
    m_list->setCurrentItem(m_list->topLevelItem(m_list->topLevelItemCount() - 1));
}

bool ProxyPage::replaceEntry(size_t row, const ProxyEntry& entry)
{
    ProxyEntry* target = m_work->ProxyAt(row);
    if (!target)
        return false;
    if (row == 0)
        target->flags = entry.flags;
    else
        *target = entry;
    rebuild();
    m_list->setCurrentItem(m_list->topLevelItem(static_cast<int>(row)));
    return true;
}

bool ProxyPage::removeEntry(size_t row)
{
    if (row == 0 || row >= m_work->ProxyCount())
        return false;
    m_work->RemoveProxy(row, m_workLock);
    m_origin.erase(m_origin.begin() + static_cast<std::ptrdiff_t>(row));
    rebuild();
    const int next = std::min(static_cast<int>(row), m_list->topLevelItemCount() - 1);
    m_list->setCurrentItem(m_list->topLevelItem(next));
    return true;
}

QString ProxyPage::importFrom(const QString& file, int* added)
{
    if (added)
        *added = 0;
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return uiString(kStrCannotReadFile).arg(file, input.errorString());
    if (static_cast<uintmax_t>(input.size()) > kMaxProxyFileSize)
        return uiString(kStrProxyFileTooLarge).arg(file);
    const QByteArray bytes = input.read(static_cast<qint64>(kMaxProxyFileSize) + 1);
    if (input.error() != QFileDevice::NoError)
        return uiString(kStrCannotReadFile).arg(file, input.errorString());
    if (static_cast<uintmax_t>(bytes.size()) > kMaxProxyFileSize)
        return uiString(kStrProxyFileTooLarge).arg(file);

    // Every line must be a proxy before anything is added: a file of some
    // other kind must not half-fill the list.
    std::vector<ProxyEntry> entries;
    const std::string_view text(bytes.constData(), static_cast<size_t>(bytes.size()));
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        std::optional<ProxyEntry> entry = parseProxyLine(line);
        if (!entry)
            return uiString(kStrNotAProxyList).arg(file).arg(lineNumber);
        entries.push_back(std::move(*entry));
    }
    if (entries.empty())
        return uiString(kStrNoProxiesInFile).arg(file);
    int count = 0;
    for (const ProxyEntry& entry : entries) {
        if (m_work->AddProxy(entry, true) == 1) {
            m_origin.push_back(-1);
            ++count;
        }
    }
    rebuild();
    if (added)
        *added = count;
    return {};
}

QString ProxyPage::exportTo(const QString& file) const
{
    switch (exportProxyFile(*m_work, localPath(file))) {
    case ProxyFileResult::Ok: return {};
    case ProxyFileResult::NothingToWrite:
        return uiString(kStrNoProxiesToExport);
    case ProxyFileResult::CannotOpen: return uiString(kStrCannotCreateFile).arg(file);
    case ProxyFileResult::CannotWrite:
    case ProxyFileResult::TooLarge: break;
    }
    return uiString(kStrCannotWriteFile).arg(file);
}

int ProxyPage::currentRow() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    return item ? m_list->indexOfTopLevelItem(item) : -1;
}

void ProxyPage::rebuild()
{
    const int row = currentRow();
    m_list->clear();
    for (size_t i = 0; i < m_work->ProxyCount(); ++i) {
        const ProxyEntry& entry = *m_work->ProxyAt(i);
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, shownProxyName(entry));
        if (entry.type != kProxyDirect)
            item->setText(1, QStringLiteral("%1:%2").arg(qText(entry.server)).arg(entry.port));
        item->setText(2, ProxyEntryDialog::typeName(entry.type));
        item->setText(3, (entry.flags & kProxyMultiProxy) != 0 ? uiString(kStrYes) : QString());
    }
    if (row >= 0 && row < m_list->topLevelItemCount())
        m_list->setCurrentItem(m_list->topLevelItem(row));
    fillDefaultBox(m_httpDefault, *m_work, m_work->defaultIndex(ProxyDefault::Http));
    fillDefaultBox(m_ftpDefault, *m_work, m_work->defaultIndex(ProxyDefault::Ftp));
    fillDefaultBox(m_streamDefault, *m_work, m_work->defaultIndex(ProxyDefault::Stream));
    updateButtons();
}

void ProxyPage::updateButtons()
{
    const int row = currentRow();
    m_edit->setEnabled(row >= 0);
    m_delete->setEnabled(row > 0);
}

void ProxyPage::onAdd()
{
    ProxyEntry fresh;
    fresh.type = kProxyHttpGet;
    fresh.port = 8080;
    ProxyEntryDialog dialog(fresh, false, this);
    if (dialog.exec() == QDialog::Accepted)
        addEntry(dialog.entry());
}

void ProxyPage::onEdit()
{
    const int row = currentRow();
    const ProxyEntry* entry = row >= 0 ? m_work->ProxyAt(static_cast<size_t>(row)) : nullptr;
    if (!entry)
        return;
    ProxyEntryDialog dialog(*entry, row == 0, this);
    if (dialog.exec() == QDialog::Accepted)
        replaceEntry(static_cast<size_t>(row), dialog.entry());
}

void ProxyPage::onDelete()
{
    const int row = currentRow();
    if (row > 0)
        removeEntry(static_cast<size_t>(row));
}

void ProxyPage::onImport()
{
    const QString file = QFileDialog::getOpenFileName(this, uiString(kStrImportProxies), QString(), QtFileFilter(fileFilter({})));
    if (file.isEmpty())
        return;
    const QString problem = importFrom(file);
    if (!problem.isEmpty())
        QMessageBox::warning(this, uiString(kStrImportProxies), problem);
}

void ProxyPage::onExport()
{
    const QString file = QFileDialog::getSaveFileName(this, uiString(kStrExportProxies), QString(), QtFileFilter(fileFilter({})));
    if (file.isEmpty())
        return;
    const QString problem = exportTo(file);
    if (!problem.isEmpty())
        QMessageBox::warning(this, uiString(kStrExportProxies), problem);
}

}  // namespace fetchora

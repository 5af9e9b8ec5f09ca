#include "gui/site_rule_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "config/proxy_list.h"
#include "gui/form_label_ids.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "net/url.h"

namespace fetchora {

namespace {

// Fills a proxy chooser with the entries whose index fits the rule's field;
// an index the list no longer has stays selectable as it is.
void fillProxyBox(QComboBox* box, const QStringList& names, unsigned limit, unsigned current)
{
    const auto count = std::min<unsigned>(static_cast<unsigned>(names.size()), limit + 1);
    for (unsigned i = 0; i < count; ++i)
        box->addItem(names[static_cast<int>(i)], i);
    if (box->findData(current) < 0)
        box->addItem(uiString(kStrProxyNotListed).arg(current), current);
    box->setCurrentIndex(box->findData(current));
}

unsigned chosen(const QComboBox* box)
{
    return box->currentData().toUInt();
}

}  // namespace

QStringList proxyNames(const ProxyList& proxies)
{
    QStringList names;
    for (size_t i = 0; i < proxies.ProxyCount(); ++i)
        names.push_back(proxyDisplayName(*proxies.ProxyAt(i)));
    return names;
}

std::string SiteRuleDialog::normalizedMask(const QString& text)
{
    std::string mask = text.trimmed().toStdString();
    const std::optional<UrlEntry> entry = ParseUrl(mask);
    if (!entry || !IsTransferable(entry->service))
        return {};
    const size_t hostStart = mask.find("://");
    if (hostStart != std::string::npos && mask.find('/', hostStart + 3) == std::string::npos)
        mask += '/';
    return mask;
}

SiteRuleDialog::SiteRuleDialog(const SiteRule& rule, const QStringList& proxyNames, QWidget* parent)
    : QDialog(parent), m_rule(rule)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Site Properties"));
    auto* form = new QFormLayout;
    m_site = new QLineEdit(qText(rule.urlMask), this);
    m_site->setPlaceholderText(QStringLiteral("http://www.example.com/"));
    form->addRow(tr("&Site:"), m_site);
    m_login = new QCheckBox(tr("&Log in with this user name and password"), this);
    m_login->setChecked((rule.flags & kSiteLogin) != 0);
    form->addRow(m_login);
    m_user = new QLineEdit(qText(rule.userName), this);
    form->addRow(tr("&User name:"), m_user);
    m_password = new QLineEdit(qText(rule.password), this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("Pass&word:"), m_password);
    m_unlimited = new QCheckBox(tr("U&nlimited connections"), this);
    m_unlimited->setChecked((rule.flags & kSiteUnlimited) != 0);
    form->addRow(m_unlimited);
    m_connections = new QSpinBox(this);
    m_connections->setRange(1, kSiteMaxConnections);
    m_connections->setValue(std::clamp(rule.connection, 1, kSiteMaxConnections));
    form->addRow(tr("Simultaneous &connections:"), m_connections);
    m_onePerFile = new QCheckBox(tr("&One connection for each file"), this);
    m_onePerFile->setChecked((rule.flags & kSiteOnePerFile) != 0);
    form->addRow(m_onePerFile);
    m_multiProxy = new QCheckBox(tr("&Multi-proxy: a different proxy for each connection"), this);
    m_multiProxy->setChecked((rule.flags & kSiteMultiProxy) != 0);
    form->addRow(m_multiProxy);
    m_httpProxy = new QComboBox(this);
    fillProxyBox(m_httpProxy, proxyNames, 0xFFFF, siteHttpProxy(rule));
    form->addRow(tr("&HTTP proxy:"), m_httpProxy);
    m_ftpProxy = new QComboBox(this);
    fillProxyBox(m_ftpProxy, proxyNames, 0xFF, siteFtpProxy(rule));
    form->addRow(tr("&FTP proxy:"), m_ftpProxy);
    m_streamProxy = new QComboBox(this);
    fillProxyBox(m_streamProxy, proxyNames, 0xFF, siteStreamProxy(rule));
    form->addRow(tr("S&tream proxy:"), m_streamProxy);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SiteRuleDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_site->setMinimumWidth(fontMetrics().averageCharWidth() * 50);

    int id = 1301;
    for (QObject* control :
         std::initializer_list<QObject*>{m_site, m_login, m_user, m_password, m_unlimited, m_connections, m_onePerFile,
                                         m_multiProxy, m_httpProxy, m_ftpProxy, m_streamProxy})
        setControlId(control, id++);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);
    setFormLabelIds(form);

    const auto update = [this] {
        m_user->setEnabled(m_login->isChecked());
        m_password->setEnabled(m_login->isChecked());
        m_connections->setEnabled(!m_unlimited->isChecked());
    };
    connect(m_login, &QCheckBox::toggled, this, update);
    connect(m_unlimited, &QCheckBox::toggled, this, update);
    update();
}

QString SiteRuleDialog::validate()
{
    if (normalizedMask(m_site->text()).empty()) {
        m_site->setFocus();
        m_site->selectAll();
        return uiString(kStrSiteNeedsScheme);
    }
    if (!m_connections->hasAcceptableInput()) {
        m_connections->setFocus();
        return uiString(kStrSiteConnectionRange).arg(kSiteMaxConnections);
    }
    return {};
}

SiteRule SiteRuleDialog::rule() const
{
    SiteRule result = m_rule;
    result.urlMask = normalizedMask(m_site->text());
    if (result.urlMask.empty())
        result.urlMask = m_site->text().trimmed().toStdString();
    result.userName = m_user->text().trimmed().toStdString();
    result.password = m_password->text().toStdString();
    const auto flag
        = [&result](uint32_t bit, bool on) { result.flags = on ? (result.flags | bit) : (result.flags & ~bit); };
    flag(kSiteLogin, m_login->isChecked());
    flag(kSiteUnlimited, m_unlimited->isChecked());
    flag(kSiteOnePerFile, m_onePerFile->isChecked());
    flag(kSiteMultiProxy, m_multiProxy->isChecked());
    result.connection = m_connections->value();
    result.proxy = packSiteProxies(static_cast<uint16_t>(chosen(m_httpProxy)), static_cast<uint8_t>(chosen(m_ftpProxy)),
                                   static_cast<uint8_t>(chosen(m_streamProxy)));
    return result;
}

void SiteRuleDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

}  // namespace fetchora

#include "gui/proxy_entry_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

// The dialog offers the plain connections first, then the FTP proxies, then
// SOCKS.
constexpr uint16_t kTypeOrder[kProxyTypeCount] = {
    kProxyDirect,  kProxyHttpGet, kProxyHttpConnect, kProxyFtpUserColon, kProxyFtpUserSpace,
    kProxyFtpOpen, kProxyFtpSite, kProxyFtpSiteUser, kProxySocks5,       kProxySocks4,
};

bool sendsNoCache(uint16_t type)
{
    return type == kProxyDirect || type == kProxyHttpGet || isTunnelProxyType(type);
}

// A host name or address: something, without blanks or control characters
// (they would end up in request lines).
bool plausibleServer(const QString& server)
{
    if (server.isEmpty())
        return false;
    return std::none_of(server.begin(), server.end(),
                        [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; });
}

}  // namespace

const uint16_t* ProxyEntryDialog::typeOrder()
{
    return kTypeOrder;
}

QString ProxyEntryDialog::typeName(uint16_t type)
{
    if (type < kProxyTypeCount)
        return uiListItem(kStrProxyTypeNames, type);
    return uiString(kStrUnknownProxyType).arg(type);
}

ProxyEntryDialog::ProxyEntryDialog(const ProxyEntry& entry, bool direct, QWidget* parent)
    : QDialog(parent), m_entry(entry), m_direct(direct)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Proxy"));
    auto* form = new QFormLayout;

    m_title = new QLineEdit(qText(entry.title), this);
    form->addRow(tr("&Name:"), m_title);
    m_type = new QComboBox(this);
    for (uint16_t type : kTypeOrder)
        m_type->addItem(typeName(type), type);
    // A stored type this program does not know stays selectable as it is.
    if (m_type->findData(entry.type) < 0)
        m_type->addItem(typeName(entry.type), entry.type);
    m_type->setCurrentIndex(m_type->findData(direct ? kProxyDirect : entry.type));
    form->addRow(tr("&Type:"), m_type);
    m_server = new QLineEdit(qText(entry.server), this);
    form->addRow(tr("&Server:"), m_server);
    m_port = new QLineEdit(QString::number(entry.port), this);
    m_port->setMaxLength(5);
    form->addRow(tr("&Port:"), m_port);
    m_authenticate = new QCheckBox(tr("&Authenticate"), this);
    m_authenticate->setChecked((entry.flags & kProxyAuthenticate) != 0);
    form->addRow(m_authenticate);
    m_user = new QLineEdit(qText(entry.userName), this);
    form->addRow(tr("&User name:"), m_user);
    m_password = new QLineEdit(qText(entry.password), this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("Pass&word:"), m_password);
    m_passive = new QCheckBox(tr("FTP pass&ive mode"), this);
    m_passive->setChecked((entry.flags & kProxyPassive) != 0);
    form->addRow(m_passive);
    m_noCache = new QCheckBox(tr("Send no-&cache headers"), this);
    m_noCache->setChecked((entry.flags & kProxyNoCache) != 0);
    form->addRow(m_noCache);
    m_multiProxy = new QCheckBox(tr("Use in &multi-proxy rotation"), this);
    m_multiProxy->setChecked((entry.flags & kProxyMultiProxy) != 0);
    form->addRow(m_multiProxy);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ProxyEntryDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_server->setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    int id = 1101;
    for (QObject* control : std::initializer_list<QObject*>{m_title, m_type, m_server, m_port, m_authenticate, m_user,
                                                            m_password, m_passive, m_noCache, m_multiProxy})
        setControlId(control, id++);
    // A field's label carries the field's id plus 500, as in every dialog,
    // so that a language file can name it.
    for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
        QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
        if (label != nullptr && label->widget() != nullptr && field != nullptr && field->widget() != nullptr)
            setControlId(label->widget(), field->widget()->property("controlId").toInt() + 500);
    }
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);

    if (direct) {
        m_title->setEnabled(false);
        m_type->setEnabled(false);
    }
    connect(m_type, &QComboBox::currentIndexChanged, this, &ProxyEntryDialog::updateEnabled);
    connect(m_authenticate, &QCheckBox::toggled, this, &ProxyEntryDialog::updateEnabled);
    updateEnabled();
}

uint16_t ProxyEntryDialog::currentType() const
{
    return static_cast<uint16_t>(m_type->currentData().toUInt());
}

void ProxyEntryDialog::updateEnabled()
{
    const uint16_t type = currentType();
    const bool proxy = type != kProxyDirect;
    m_server->setEnabled(proxy);
    m_port->setEnabled(proxy);
    m_authenticate->setEnabled(proxy);
    const bool login = proxy && m_authenticate->isChecked();
    m_user->setEnabled(login);
    m_password->setEnabled(login && type != kProxySocks4);
    m_noCache->setEnabled(sendsNoCache(type));
}

QString ProxyEntryDialog::validate()
{
    if (currentType() == kProxyDirect)
        return {};
    if (!plausibleServer(m_server->text().trimmed())) {
        m_server->setFocus();
        return uiString(kStrProxyServerNeeded);
    }
    bool number = false;
    const QString portText = m_port->text().trimmed();
    const uint port = portText.toUInt(&number);
    const bool digits = std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
    if (!number || !digits || port < 1 || port > 65535) {
        m_port->setFocus();
        m_port->selectAll();
        return uiString(kStrProxyPortRange);
    }
    return {};
}

ProxyEntry ProxyEntryDialog::entry() const
{
    ProxyEntry result = m_entry;
    const uint16_t type = currentType();
    if (!m_direct) {
        result.title = m_title->text().trimmed().toStdString();
        result.type = type;
    }
    result.server = m_server->text().trimmed().toStdString();
    bool number = false;
    const uint port = m_port->text().trimmed().toUInt(&number);
    if (number && port >= 1 && port <= 65535)
        result.port = static_cast<uint16_t>(port);
    result.userName = m_user->text().toStdString();
    result.password = type == kProxySocks4 ? std::string() : m_password->text().toStdString();
    const auto flag
        = [&result](uint32_t bit, bool on) { result.flags = on ? (result.flags | bit) : (result.flags & ~bit); };
    flag(kProxyAuthenticate, type != kProxyDirect && m_authenticate->isChecked());
    flag(kProxyPassive, m_passive->isChecked());
    flag(kProxyNoCache, m_noCache->isChecked());
    flag(kProxyMultiProxy, m_multiProxy->isChecked());
    return result;
}

void ProxyEntryDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

}  // namespace fetchora

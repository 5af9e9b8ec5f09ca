#pragma once
// The dialog that edits one site rule: the start of the URLs it covers, the
// login for the site, the connection limit and the three proxies (chosen
// from the proxy list by name). The login page and "Site Properties" both
// use it.
//
// OK is refused while the site is not a URL the program can download; a
// site given without a path gets a "/", so that "http://example.com" never
// also covers "http://example.com.other.org/" and hands that host the login.
//
// Thread: the GUI thread. Works on its own copy of the rule.
#include <QDialog>
#include <QStringList>

#include "config/site_rules.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace fetchora {

class ProxyList;

class SiteRuleDialog final : public QDialog {
    Q_OBJECT
public:
    // proxyNames: the proxy list's entries by index, as lists show them.
    SiteRuleDialog(const SiteRule& rule, const QStringList& proxyNames, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "Site_Dlg";

    // Empty when the fields make a usable rule, else the message (the field
    // gets the focus).
    QString validate();
    // The rule as the fields say; flag bits the dialog does not show are
    // carried over unchanged.
    SiteRule rule() const;

    QLineEdit* siteEdit() const { return m_site; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QCheckBox* loginBox() const { return m_login; }
    QCheckBox* unlimitedBox() const { return m_unlimited; }
    QSpinBox* connectionsBox() const { return m_connections; }
    QCheckBox* onePerFileBox() const { return m_onePerFile; }
    QCheckBox* multiProxyBox() const { return m_multiProxy; }
    QComboBox* httpProxyBox() const { return m_httpProxy; }
    QComboBox* ftpProxyBox() const { return m_ftpProxy; }
    QComboBox* streamProxyBox() const { return m_streamProxy; }

    // The site text as a rule stores it: trimmed, with "/" added when the
    // URL has no path. Empty when it is not a URL the program can download.
    static std::string normalizedMask(const QString& text);

public slots:
    void accept() override;

private:
    SiteRule m_rule;
    QLineEdit* m_site = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_login = nullptr;
    QCheckBox* m_unlimited = nullptr;
    QSpinBox* m_connections = nullptr;
    QCheckBox* m_onePerFile = nullptr;
    QCheckBox* m_multiProxy = nullptr;
    QComboBox* m_httpProxy = nullptr;
    QComboBox* m_ftpProxy = nullptr;
    QComboBox* m_streamProxy = nullptr;
};

// The names of the proxy list's entries by index.
QStringList proxyNames(const ProxyList& proxies);

}  // namespace fetchora

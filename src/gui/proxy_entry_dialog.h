#pragma once
// The dialog that edits one proxy of the list: name, type, server, port,
// login and the three flags. Controls that do not apply to the chosen type
// are disabled (only tunnels and plain HTTP send no-cache headers; SOCKS4
// has no password). OK is refused, with the field focused, while the
// server is missing or the port is not a number from 1 to 65535.
//
// Thread: the GUI thread. Works on its own copy of the entry.
#include <QDialog>

#include "config/proxy_entry.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace fetchora {

class ProxyEntryDialog final : public QDialog {
    Q_OBJECT
public:
    // direct: the list's first entry, the direct connection; only its flags
    // can change.
    ProxyEntryDialog(const ProxyEntry& entry, bool direct, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "ProxyEntry_Dlg";

    // Empty when the fields make a usable entry; otherwise the message, with
    // the offending field focused.
    QString validate();
    // The entry as the fields say. Flag bits the dialog does not show are
    // carried over unchanged.
    ProxyEntry entry() const;

    QLineEdit* titleEdit() const { return m_title; }
    QComboBox* typeBox() const { return m_type; }
    QLineEdit* serverEdit() const { return m_server; }
    QLineEdit* portEdit() const { return m_port; }
    QCheckBox* authenticateBox() const { return m_authenticate; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QCheckBox* passiveBox() const { return m_passive; }
    QCheckBox* noCacheBox() const { return m_noCache; }
    QCheckBox* multiProxyBox() const { return m_multiProxy; }

    // The type's name as lists show it ("HTTP <Connect>").
    static QString typeName(uint16_t type);
    // The proxy types in the order the dialog offers them.
    static const uint16_t* typeOrder();

public slots:
    void accept() override;

private:
    uint16_t currentType() const;
    void updateEnabled();

    ProxyEntry m_entry;
    bool m_direct;
    QLineEdit* m_title = nullptr;
    QComboBox* m_type = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_port = nullptr;
    QCheckBox* m_authenticate = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_passive = nullptr;
    QCheckBox* m_noCache = nullptr;
    QCheckBox* m_multiProxy = nullptr;
};

}  // namespace fetchora

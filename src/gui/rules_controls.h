#pragma once
// Helpers shared by the proxy, login and rule dialogs.
//
// Thread: the GUI thread.
#include <QObject>
#include <QString>
#include <QVariant>

#include <string>

#include "config/proxy_entry.h"

namespace fetchora {

// Translation files name a dialog's controls by these numbers, so a number
// once given out never changes meaning.
inline void setControlId(QObject* control, int id)
{
    control->setProperty("controlId", id);
}

inline QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

// The name lists show for a proxy: its title, else "server:port".
inline QString proxyDisplayName(const ProxyEntry& entry)
{
    if (!entry.title.empty())
        return qText(entry.title);
    return QStringLiteral("%1:%2").arg(qText(entry.server)).arg(entry.port);
}

}  // namespace fetchora

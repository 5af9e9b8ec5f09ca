#include "gui/developer_aids.h"

#include <QAction>
#include <QTimer>

#include "gui/command_actions.h"
#include "gui/loop_latency_probe.h"
#include "gui/main_frame.h"
#include "gui/offline_frame.h"

namespace fetchora {

DeveloperAids::DeveloperAids(Application& app, MainView& view, CMainFrame& frame)
    : m_app(app), m_view(view), m_frame(frame)
{
    if (const QString file = qEnvironmentVariable("FETCHORA_LATENCY_PROBE"); !file.isEmpty())
        m_probe = std::make_unique<LoopLatencyProbe>(file);
}

DeveloperAids::~DeveloperAids() = default;

void DeveloperAids::start()
{
    if (const QString address = qEnvironmentVariable("FETCHORA_OPEN_EXPLORER"); !address.isEmpty())
        openExplorerWindow(m_app, m_view, ExplorerKind::SiteExplorer, address.toStdString(), &m_frame);
    if (const QString choice = qEnvironmentVariable("FETCHORA_SWITCH_LANGUAGE"); !choice.isEmpty()) {
        const QStringList parts = choice.split(u':');
        QTimer::singleShot(parts.value(1).toInt(), &m_frame, [this, file = parts.value(0)] {
            if (auto* entry = m_frame.findChild<QAction*>(file))
                entry->trigger();
        });
    }
    if (const QString commands = qEnvironmentVariable("FETCHORA_OPEN_DIALOG"); !commands.isEmpty())
        QTimer::singleShot(300, &m_frame, [this, commands] { runCommands(commands.split(u',', Qt::SkipEmptyParts)); });
}

void DeveloperAids::runCommands(QStringList commands)
{
    if (commands.isEmpty())
        return;
    bool ok = false;
    const uint command = commands.takeFirst().trimmed().toUInt(&ok);
    // A dialog's command returns when the dialog is closed.
    if (ok)
        m_frame.commands().trigger(command);
    QTimer::singleShot(500, &m_frame, [this, commands] { runCommands(commands); });
}

}  // namespace fetchora

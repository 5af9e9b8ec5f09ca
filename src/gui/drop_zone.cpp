#include "gui/drop_zone.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "gui/gui_string_ids.h"
#include "gui/ui_text.h"

namespace fetchora {

QPoint DropZonePosition(std::optional<QPoint> stored, const QRect& screen, const QSize& size)
{
    if (stored && screen.contains(QRect(*stored, size)))
        return *stored;
    QPoint fallback(screen.left() + screen.width() - 100, screen.top() + 30);
    fallback.setX(std::clamp(fallback.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())));
    fallback.setY(std::clamp(fallback.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height())));
    return fallback;
}

namespace {

QRect screenArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

DropZone::DropZone(AppSettings& settings, QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Fetchora"));
    setAcceptDrops(true);
    setAttribute(Qt::WA_TranslucentBackground, false);
    const int side = fontMetrics().height() * 3;
    setFixedSize(side, side);
    setUiText(this, kStrDropZoneTip, UiTextRole::ToolTip);

    const QRect screen = screenArea();
    const DropZoneSettings stored = m_settings.dropZone(screen.width());
    move(DropZonePosition(QPoint(stored.x, stored.y), screen, size()));
    setWindowOpacity(stored.transparent ? stored.opacity / 255.0 : 1.0);
}

DropZone::~DropZone() = default;

void DropZone::restore()
{
    if (m_settings.dropZone(screenArea().width()).show)
        show();
}

void DropZone::setShown(bool shown)
{
    setVisible(shown);
    store();
}

void DropZone::store()
{
    DropZoneSettings zone = m_settings.dropZone(screenArea().width());
    zone.show = isVisible();
    zone.x = pos().x();
    zone.y = pos().y();
    m_settings.setDropZone(zone);
}

bool DropZone::acceptDrop(const QMimeData& mime)
{
    const std::optional<DropPayload> payload = ReadDrop(mime);
    if (!payload)
        return false;
    if (m_drop)
        m_drop(*payload);
    return true;
}

void DropZone::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const int margin = fontMetrics().height() / 3;
    QIcon::fromTheme(QStringLiteral("fetchora"), QIcon(QStringLiteral(":/icons/fetchora.svg")))
        .paint(&painter, rect().adjusted(margin, margin, -margin, -margin));
}

void DropZone::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_moved = false;
    }
    QWidget::mousePressEvent(event);
}

void DropZone::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_dragOffset);
        m_moved = true;
    }
}

void DropZone::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragOffset) {
        m_dragOffset.reset();
        if (m_moved)
            store();
    }
}

void DropZone::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_doubleClick)
        m_doubleClick();
}

void DropZone::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_menu != nullptr)
        m_menu->popup(event->globalPos());
}

void DropZone::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData() != nullptr && ReadDrop(*event->mimeData()))
        event->acceptProposedAction();
}

void DropZone::dropEvent(QDropEvent* event)
{
    if (event->mimeData() != nullptr && acceptDrop(*event->mimeData()))
        event->acceptProposedAction();
}

}  // namespace fetchora

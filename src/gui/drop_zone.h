#pragma once
// The drop zone: a small frameless window that stays on top of the others,
// for dragging links onto without raising the main window. It is moved by
// dragging any point of it; a double click shows or hides the main window; it
// has a context menu of its own. Its place, whether it shows and its
// translucency come from the "DropZone" settings and go back there as they
// change.
//
// Thread: the GUI thread. Borrows the settings; the menu is borrowed too.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>

#include "config/app_settings.h"
#include "gui/drop_data.h"

class QMenu;

namespace fetchora {

// Where the zone goes: the stored corner when the whole window fits on the
// screen there, else the default corner (100 from the screen's right edge,
// 30 from its top), itself pulled onto the screen.
QPoint DropZonePosition(std::optional<QPoint> stored, const QRect& screen, const QSize& size);

class DropZone final : public QWidget {
    Q_OBJECT
public:
    DropZone(AppSettings& settings, QWidget* owner = nullptr);
    ~DropZone() override;

    void setContextMenu(QMenu* menu) { m_menu = menu; }
    void setDoubleClickAction(std::function<void()> action) { m_doubleClick = std::move(action); }
    void setDropAction(std::function<void(const DropPayload&)> action) { m_drop = std::move(action); }

    // Shows it when the settings say so ("Show").
    void restore();
    // Shows or hides it, and remembers which.
    void setShown(bool shown);
    // Writes place, visibility and translucency back.
    void store();

    // What a drop carrying this data does (also the drop event's work).
    bool acceptDrop(const QMimeData& mime);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    AppSettings& m_settings;
    QMenu* m_menu = nullptr;
    std::function<void()> m_doubleClick;
    std::function<void(const DropPayload&)> m_drop;
    std::optional<QPoint> m_dragOffset;
    bool m_moved = false;
};

}  // namespace fetchora

#pragma once
// Draws the job list's Percent column as a progress bar through the style;
// every other column is drawn as usual.
//
// Thread: GUI thread.
#include <QStyledItemDelegate>

namespace fetchora {

class ProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The bar's value for a Percent cell text ("42%"): -1 for an empty or
    // unreadable cell (no bar), else 0..100.
    static int percentOf(const QString& text);
};

}  // namespace fetchora

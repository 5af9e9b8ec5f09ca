#include "gui/progress_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "shell/job_list_cells.h"

namespace fetchora {

int ProgressDelegate::percentOf(const QString& text)
{
    QString digits = text.trimmed();
    if (!digits.endsWith(QLatin1Char('%')))
        return -1;
    digits.chop(1);
    bool ok = false;
    const int value = digits.toInt(&ok);
    if (!ok)
        return -1;
    return std::clamp(value, 0, 100);
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() != static_cast<int>(columnIndex(JobColumn::Percent))) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const int percent = percentOf(text);
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The selection background first, so that a selected row stays one band.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.state = option.state | QStyle::State_Horizontal;
    const int margin = option.fontMetrics.height() / 8;
    bar.rect = option.rect.adjusted(margin, margin, -margin, -margin);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = text;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.palette = option.palette;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

}  // namespace fetchora

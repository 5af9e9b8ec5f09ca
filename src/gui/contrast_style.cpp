#include "gui/contrast_style.h"

#include <QPainter>
#include <QStyleOption>

namespace fetchora {

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool box = element == PE_IndicatorCheckBox || element == PE_IndicatorItemViewItemCheck;
    if (!box || !option || option->palette.color(QPalette::Window).lightness() >= 128)
        return;
    QColor frame = option->palette.color(QPalette::Text);
    frame.setAlpha(option->state & State_Enabled ? 140 : 60);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(frame);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

}  // namespace fetchora

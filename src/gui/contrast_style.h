#pragma once
// The platform's style with one mend for dark palettes: Fusion draws the
// frame of an unticked box in a shade close to the dark background, so
// unticked switches in lists and forms cannot be seen. On a dark palette the
// frame is drawn again in the text colour, half transparent; light palettes
// are left as the style draws them.
//
// Thread: the GUI thread.
#include <QProxyStyle>

namespace fetchora {

class ContrastStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

}  // namespace fetchora

#include "gui/contrast_style.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionButton>

namespace fetchora {
namespace {

// An unticked box drawn on its background; the brightest pixel of its frame
// row against the background's.
int frameContrast(QStyle& style, const QPalette& palette)
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(palette.color(QPalette::Window));
    QStyleOptionButton option;
    option.rect = QRect(10, 10, 16, 16);
    option.palette = palette;
    option.state = QStyle::State_Enabled | QStyle::State_Off;
    QPainter painter(&image);
    style.drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter);
    painter.end();
    int brightest = 0;
    for (int x = 10; x < 26; ++x)
        brightest = std::max(brightest, qGray(image.pixel(x, 10)));
    return brightest - palette.color(QPalette::Window).lightness();
}

QPalette darkPalette()
{
    QPalette palette;
    for (auto role : {QPalette::Window, QPalette::Button})
        palette.setColor(role, QColor(0x35, 0x35, 0x35));
    palette.setColor(QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
    palette.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    palette.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    return palette;
}

TEST(ContrastStyle, AnUntickedBoxStandsOutOnADarkPaletteAndLightOnesAreLeftAlone)
{
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    ContrastStyle mended(QStyleFactory::create("Fusion"));
    // Fusion's own frame is within a few shades of the dark background.
    EXPECT_LT(frameContrast(*fusion, darkPalette()), 40);
    EXPECT_GT(frameContrast(mended, darkPalette()), 60);

    const QPalette light = fusion->standardPalette();
    EXPECT_EQ(frameContrast(mended, light), frameContrast(*fusion, light));
}

}  // namespace
}  // namespace fetchora

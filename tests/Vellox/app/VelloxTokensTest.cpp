#include "Vellox/app/VelloxTokens.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QPalette paletteWith(QColor window, QColor text)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(VelloxTokens, AppearanceFollowsTheWidgetPalette)
{
    QWidget widget;
    widget.setPalette(paletteWith(QColor(0x1e, 0x1e, 0x1e), QColor(0xee, 0xee, 0xee)));
    EXPECT_EQ(VelloxTokens::appearanceOf(&widget), VelloxTokens::Appearance::dark);
    EXPECT_EQ(VelloxTokens::Colors::accent.resolved(&widget), QColor(0x0a, 0x84, 0xff));

    widget.setPalette(paletteWith(QColor(0xf4, 0xf4, 0xf4), QColor(0x10, 0x10, 0x10)));
    EXPECT_EQ(VelloxTokens::appearanceOf(&widget), VelloxTokens::Appearance::light);
    EXPECT_EQ(VelloxTokens::Colors::accent.resolved(&widget), QColor(0x00, 0x7a, 0xff));
}

TEST(VelloxTokens, SoftAccentIsTheAccentAtFourteenPercentInBothAppearances)
{
    for (auto appearance : {VelloxTokens::Appearance::light, VelloxTokens::Appearance::dark}) {
        const QColor accent = VelloxTokens::Colors::accent.resolved(appearance);
        const QColor soft = VelloxTokens::Colors::accentSoft.resolved(appearance);
        EXPECT_EQ(soft.rgb(), accent.rgb());
        EXPECT_NEAR(soft.alphaF(), 0.14, 0.005);
    }
}

TEST(VelloxTokens, TypeStylesAreLogicalPixelSizesOfTheApplicationFont)
{
    struct Case {
        const char* name;
        VelloxTokens::TypeStyle style;
        int pixels;
        QFont::Weight weight;
    };
    const Case cases[] = {
        {"title", VelloxTokens::Typography::title, 22, QFont::DemiBold},
        {"headline", VelloxTokens::Typography::headline, 13, QFont::DemiBold},
        {"body", VelloxTokens::Typography::body, 13, QFont::Normal},
        {"secondary", VelloxTokens::Typography::secondary, 12, QFont::Normal},
        {"caption", VelloxTokens::Typography::caption, 11, QFont::Normal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QFont font = c.style.font();
        EXPECT_EQ(font.pixelSize(), c.pixels);
        EXPECT_EQ(font.weight(), c.weight);
        EXPECT_EQ(font.family(), QApplication::font().family());
    }
}

} // namespace

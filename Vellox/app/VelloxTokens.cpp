#include "Vellox/app/VelloxTokens.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

namespace VelloxTokens {

namespace {

Appearance appearanceOfPalette(const QPalette& palette)
{
    // Compare the window background with its text: a light text on a darker
    // background is a dark theme, whatever the style calls itself.
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness()
        ? Appearance::dark
        : Appearance::light;
}

} // namespace

Appearance currentAppearance()
{
    return appearanceOfPalette(QGuiApplication::palette());
}

Appearance appearanceOf(const QWidget* widget)
{
    return widget ? appearanceOfPalette(widget->palette()) : currentAppearance();
}

QFont TypeStyle::font() const
{
    return font(weight);
}

QFont TypeStyle::font(QFont::Weight otherWeight) const
{
    QFont result = QGuiApplication::font();
    result.setPixelSize(pixelSize);
    result.setWeight(otherWeight);
    return result;
}

} // namespace VelloxTokens

#pragma once

#include <QColor>
#include <QFont>
#include <QRgb>

class QWidget;

// The design system's one table of values. Every window of the shell and every
// floating panel takes its colours, spacing, corner radii and type from here.
// Sizes are logical pixels, so they scale with the screen like the rest of Qt.
namespace VelloxTokens {

enum class Appearance { light, dark };

// The appearance of the running application, read from its palette: a dark
// window background means the dark variants.
Appearance currentAppearance();
// The appearance a widget is drawn in (its own palette may differ).
Appearance appearanceOf(const QWidget* widget);

// A colour with one value per appearance.
struct ColorToken {
    QRgb light;
    QRgb dark;

    QColor resolved(Appearance appearance) const
    {
        return QColor::fromRgba(appearance == Appearance::dark ? dark : light);
    }
    QColor resolved() const { return resolved(currentAppearance()); }
    QColor resolved(const QWidget* widget) const { return resolved(appearanceOf(widget)); }
};

namespace Colors {

// The accent is the system blue of each appearance; the soft accent is that
// blue at 14 % opacity, used behind hovered rows.
inline constexpr ColorToken accent{qRgba(0x00, 0x7a, 0xff, 0xff), qRgba(0x0a, 0x84, 0xff, 0xff)};
inline constexpr ColorToken accentSoft{qRgba(0x00, 0x7a, 0xff, 36), qRgba(0x0a, 0x84, 0xff, 36)};
inline constexpr ColorToken textPrimary{qRgba(0, 0, 0, 217), qRgba(255, 255, 255, 217)};
inline constexpr ColorToken textSecondary{qRgba(0, 0, 0, 128), qRgba(255, 255, 255, 140)};
inline constexpr ColorToken textTertiary{qRgba(0, 0, 0, 66), qRgba(255, 255, 255, 64)};
inline constexpr ColorToken divider{qRgba(0, 0, 0, 26), qRgba(255, 255, 255, 26)};
inline constexpr ColorToken success{qRgba(0x34, 0xc7, 0x59, 0xff), qRgba(0x30, 0xd1, 0x58, 0xff)};
inline constexpr ColorToken warning{qRgba(0xff, 0x95, 0x00, 0xff), qRgba(0xff, 0x9f, 0x0a, 0xff)};
inline constexpr ColorToken danger{qRgba(0xff, 0x3b, 0x30, 0xff), qRgba(0xff, 0x45, 0x3a, 0xff)};

// Surfaces the shell paints itself (the popover and the onboarding window),
// so they match in both appearances whatever the widget style.
inline constexpr ColorToken surface{qRgba(0xf6, 0xf6, 0xf6, 0xff), qRgba(0x2b, 0x2b, 0x2d, 0xff)};
inline constexpr ColorToken surfaceBorder{qRgba(0, 0, 0, 46), qRgba(255, 255, 255, 38)};

} // namespace Colors

namespace Spacing {
inline constexpr double xs = 4;
inline constexpr double s = 8;
inline constexpr double m = 12;
inline constexpr double l = 16;
inline constexpr double xl = 24;
} // namespace Spacing

namespace Radius {
inline constexpr double card = 10;
inline constexpr double control = 6;
} // namespace Radius

// A type style: the system font family at a size in logical pixels.
struct TypeStyle {
    int pixelSize;
    QFont::Weight weight;

    // The application font at this size and weight.
    QFont font() const;
    // The same with another weight (a semibold body line, for example).
    QFont font(QFont::Weight otherWeight) const;
};

namespace Typography {
inline constexpr TypeStyle title{22, QFont::DemiBold};
inline constexpr TypeStyle headline{13, QFont::DemiBold};
inline constexpr TypeStyle body{13, QFont::Normal};
inline constexpr TypeStyle secondary{12, QFont::Normal};
inline constexpr TypeStyle caption{11, QFont::Normal};
} // namespace Typography

// Motion shared by the kit and the windows, in milliseconds.
namespace Motion {
inline constexpr int hoverFadeMs = 120;
inline constexpr int panelTransitionMs = 180;
inline constexpr int emphasisMs = 240;
} // namespace Motion

} // namespace VelloxTokens

#include "TerminalWindows.h"

#include <QSet>

namespace platform {

namespace {

// Lower-case class or instance names of terminal emulators whose default
// key bindings copy with Control-Shift-C and paste with Control-Shift-V.
const QSet<QString>& controlShiftTerminals()
{
    static const QSet<QString> names{
        QStringLiteral("gnome-terminal"), QStringLiteral("gnome-terminal-server"), QStringLiteral("org.gnome.terminal"),
        QStringLiteral("kgx"),            QStringLiteral("org.gnome.console"), QStringLiteral("org.gnome.ptyxis"),
        QStringLiteral("ptyxis"),         QStringLiteral("konsole"),         QStringLiteral("org.kde.konsole"),
        QStringLiteral("yakuake"),        QStringLiteral("xfce4-terminal"),  QStringLiteral("mate-terminal"),
        QStringLiteral("lxterminal"),     QStringLiteral("qterminal"),       QStringLiteral("terminator"),
        QStringLiteral("tilix"),          QStringLiteral("com.gexperts.tilix"), QStringLiteral("alacritty"),
        QStringLiteral("kitty"),          QStringLiteral("st"),              QStringLiteral("st-256color"),
        QStringLiteral("wezterm"),        QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("foot"),
        QStringLiteral("footclient"),     QStringLiteral("sakura"),          QStringLiteral("terminology"),
        QStringLiteral("guake"),          QStringLiteral("tilda"),           QStringLiteral("cool-retro-term"),
        QStringLiteral("deepin-terminal"), QStringLiteral("blackbox"),       QStringLiteral("com.raggesilver.blackbox"),
        QStringLiteral("contour"),        QStringLiteral("ghostty"),         QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("hyper"),          QStringLiteral("tabby"),
    };
    return names;
}

// Terminals whose defaults bind no copy chord: selecting copies to the
// primary selection, and Control-Shift-C arrives as ^C.
const QSet<QString>& otherTerminals()
{
    static const QSet<QString> names{
        QStringLiteral("xterm"), QStringLiteral("uxterm"), QStringLiteral("urxvt"),  QStringLiteral("rxvt"),
        QStringLiteral("urxvt-unicode"), QStringLiteral("rxvt-unicode"), QStringLiteral("eterm"),
        QStringLiteral("aterm"), QStringLiteral("mlterm"), QStringLiteral("xvt"),
    };
    return names;
}

} // namespace

ChordStyle chordStyleForWindowClass(const QString& className, const QString& instanceName)
{
    const QString cls = className.toLower();
    const QString instance = instanceName.toLower();
    // A terminal of unknown bindings wins over a known one: typing nothing is
    // the safe side.
    if (otherTerminals().contains(cls) || otherTerminals().contains(instance))
        return ChordStyle::none;
    if (controlShiftTerminals().contains(cls) || controlShiftTerminals().contains(instance))
        return ChordStyle::controlShift;
    return ChordStyle::control;
}

} // namespace platform

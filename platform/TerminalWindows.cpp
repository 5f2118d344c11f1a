#include "TerminalWindows.h"

#include <QSet>

namespace platform {

namespace {

const QSet<QString>& terminalNames()
{
    // Lower-case class or instance names of common terminal emulators.
    static const QSet<QString> names{
        QStringLiteral("xterm"),          QStringLiteral("uxterm"),        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"), QStringLiteral("org.gnome.terminal"), QStringLiteral("kgx"),
        QStringLiteral("org.gnome.console"), QStringLiteral("org.gnome.ptyxis"), QStringLiteral("ptyxis"),
        QStringLiteral("konsole"),        QStringLiteral("org.kde.konsole"), QStringLiteral("yakuake"),
        QStringLiteral("xfce4-terminal"), QStringLiteral("mate-terminal"), QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),      QStringLiteral("terminator"),    QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"), QStringLiteral("alacritty"), QStringLiteral("kitty"),
        QStringLiteral("urxvt"),          QStringLiteral("rxvt"),          QStringLiteral("urxvt-unicode"),
        QStringLiteral("st"),             QStringLiteral("st-256color"),   QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("foot"),  QStringLiteral("footclient"),
        QStringLiteral("sakura"),         QStringLiteral("terminology"),   QStringLiteral("eterm"),
        QStringLiteral("guake"),          QStringLiteral("tilda"),         QStringLiteral("cool-retro-term"),
        QStringLiteral("deepin-terminal"), QStringLiteral("blackbox"),     QStringLiteral("com.raggesilver.blackbox"),
        QStringLiteral("contour"),        QStringLiteral("ghostty"),       QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("warp"),           QStringLiteral("hyper"),         QStringLiteral("tabby"),
    };
    return names;
}

} // namespace

bool isTerminalWindowClass(const QString& className, const QString& instanceName)
{
    return terminalNames().contains(className.toLower()) || terminalNames().contains(instanceName.toLower());
}

} // namespace platform

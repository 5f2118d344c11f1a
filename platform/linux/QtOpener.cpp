#include "QtOpener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace platform::linuxbackend {

bool QtOpener::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void QtOpener::openAccessibilitySettings()
{
    struct Tool {
        const char* program;
        QStringList arguments;
    };
    const Tool tools[] = {
        {"gnome-control-center", {QStringLiteral("universal-access")}},
        {"systemsettings", {QStringLiteral("kcm_access")}},
        {"xfce4-accessibility-settings", {}},
    };
    for (const Tool& tool : tools) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool.program));
        if (!path.isEmpty() && QProcess::startDetached(path, tool.arguments))
            return;
    }
}

} // namespace platform::linuxbackend

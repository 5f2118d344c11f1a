#include "JsonAppInfo.h"

#include "platform/DefaultsCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform::linuxbackend {

JsonAppInfo::JsonAppInfo(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    try {
        values_ = defaults_codec::parseFile(file.readAll());
    } catch (const nlohmann::json::exception&) {
        values_.clear();
    }
}

QString JsonAppInfo::locate()
{
    const QString fromEnvironment = qEnvironmentVariable("VELLOX_INFO_FILE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString name = QStringLiteral("Info.json");
    const QString besideExecutable = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (QFileInfo::exists(besideExecutable))
        return besideExecutable;
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../share/vellox/") + name);
}

} // namespace platform::linuxbackend

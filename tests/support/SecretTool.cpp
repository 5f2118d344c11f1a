#include "SecretTool.h"

#include <QProcess>

namespace secret_tool {

std::optional<QByteArray> run(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral("secret-tool"), arguments);
    if (!process.waitForStarted(5000))
        return std::nullopt;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

int itemCount(const QString& service, const QString& account)
{
    const auto out = run({"search", "--all", "service", service, "account", account});
    return out ? static_cast<int>(out->count("\nlabel = ") + (out->startsWith("label = ") ? 1 : 0)) : -1;
}

} // namespace secret_tool

#include "AnalyticsDebugUtils.h"

#include "analytics/AnalyticsLog.h"

#include <QByteArray>
#include <QFile>

namespace analytics::AnalyticsDebugUtils {

bool isDebuggerAttached()
{
    // The kernel names the tracing process, 0 for none, in the process status.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        analyticsLog(QStringLiteral("Failed to check for debugger. Reading /proc/self/status failed with error code: ") +
                     QString::number(int(status.error())));
        return false;
    }
    const QByteArray text = status.readAll();
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("TracerPid:")) {
            bool ok = false;
            const long tracer = line.mid(10).trimmed().toLong(&ok);
            return ok && tracer != 0;
        }
    }
    analyticsLog(QStringLiteral("Failed to check for debugger. /proc/self/status holds no TracerPid line"));
    return false;
}

} // namespace analytics::AnalyticsDebugUtils

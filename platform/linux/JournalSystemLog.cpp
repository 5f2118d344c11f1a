#include "JournalSystemLog.h"

#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <syslog.h>
#include <systemd/sd-journal.h>

namespace platform::linuxbackend {

namespace {

int priorityOf(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return LOG_DEBUG;
    case LogLevel::Info: return LOG_INFO;
    case LogLevel::Notice: return LOG_NOTICE;
    case LogLevel::Error: return LOG_ERR;
    case LogLevel::Fault: return LOG_CRIT;
    }
    return LOG_NOTICE;
}

const char* wordOf(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return "debug";
    case LogLevel::Info: return "info";
    case LogLevel::Notice: return "notice";
    case LogLevel::Error: return "error";
    case LogLevel::Fault: return "fault";
    }
    return "notice";
}

} // namespace

JournalSystemLog::JournalSystemLog()
    : journal_(QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket")))
{
}

void JournalSystemLog::write(LogLevel level, const QString& subsystem, const QString& category,
                             const QString& message)
{
    const QByteArray text = message.toUtf8();
    const QByteArray sub = subsystem.toUtf8();
    const QByteArray cat = category.toUtf8();
    if (journal_
        && sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=%d", priorityOf(level),
                           "SUBSYSTEM=%s", sub.constData(), "CATEGORY=%s", cat.constData(),
                           "SYSLOG_IDENTIFIER=vellox", nullptr)
            == 0)
        return;
    const QByteArray time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    std::fprintf(stderr, "%s %s[%s] %s: %s\n", time.constData(), sub.constData(), cat.constData(),
                 wordOf(level), text.constData());
}

} // namespace platform::linuxbackend

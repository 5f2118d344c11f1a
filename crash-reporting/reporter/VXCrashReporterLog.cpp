#include "crash-reporting/reporter/VXCrashReporterLog.h"

#include "platform/Platform.h"
#include "platform/SystemLog.h"

#include <QString>

#include <cstdarg>
#include <cstdio>
#include <vector>

void vxcrash_log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? size_t(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);

    if (const auto& log = platform::Platform::current().systemLog) {
        log->write(platform::LogLevel::Error, QStringLiteral("app.vellox.desktop"), QStringLiteral("crash-reporter"),
                   QString::fromUtf8(text.data()));
    } else {
        std::fprintf(stderr, "%s\n", text.data());
    }
}

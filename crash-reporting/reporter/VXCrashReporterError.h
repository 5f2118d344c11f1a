#pragma once

#include <QString>

// Recoverable failures of the crash reporter: a code of the reporter's error
// domain and a message meant for people.
inline constexpr const char* VXCrashReporterErrorDomain = "VXCrashReporterErrorDomain";

enum VXCrashReporterErrorCode : int {
    VXCrashReporterErrorUnknown = 0,
    VXCrashReporterErrorOperatingSystem = 1,
    VXCrashReporterErrorCrashReportInvalid = 2,
    VXCrashReporterErrorResourceBusy = 3,
};

struct VXCrashReporterError {
    QString domain = QString::fromLatin1(VXCrashReporterErrorDomain);
    int code = VXCrashReporterErrorUnknown;
    QString localizedDescription;
};

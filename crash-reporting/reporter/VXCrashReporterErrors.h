#pragma once

#include "crash-reporting/reporter/VXCrashReporterError.h"

#include <QString>

#include <cstring>
#include <stdexcept>

// Making the crash reporter's errors.

inline constexpr const char* VXCrashPOSIXErrorDomain = "NSPOSIXErrorDomain";

inline VXCrashReporterError vxcrash_make_error(int code, const QString& message)
{
    VXCrashReporterError error;
    error.code = code;
    error.localizedDescription = message;
    return error;
}

// A failed system call of the reporter's own: an operating-system failure with
// its message. The call's error number is not kept: the shared error record
// has no place for an underlying error yet.
inline VXCrashReporterError vxcrash_os_error(const QString& message, int /*errnum*/)
{
    return vxcrash_make_error(VXCrashReporterErrorOperatingSystem, message);
}

// The file system's own error, in the POSIX domain.
inline VXCrashReporterError vxcrash_posix_error(int errnum)
{
    VXCrashReporterError error;
    error.domain = QString::fromLatin1(VXCrashPOSIXErrorDomain);
    error.code = errnum;
    error.localizedDescription = QString::fromLocal8Bit(std::strerror(errnum));
    return error;
}

// Stores `error` in `out` when the caller asked for it.
inline void vxcrash_set_error(VXCrashReporterError* out, VXCrashReporterError error)
{
    if (out)
        *out = std::move(error);
}

// Misuse the caller cannot recover from.
class VXCrashReporterException : public std::logic_error {
public:
    static constexpr const char* kName = "VXCrashReporterException";
    using std::logic_error::logic_error;
};

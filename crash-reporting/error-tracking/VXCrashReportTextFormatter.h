#pragma once

#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReporterError.h"

#include <QByteArray>
#include <QString>
#include <QStringConverter>

#include <memory>

// The text layouts a report can be rendered in.
enum VXCrashReportTextFormat {
    // The classic crash-log layout, "Report Version:  104".
    VXCrashReportTextFormatiOS = 0,
};

// Renders a decoded report as a plain-text crash log for people to read.
class VXCrashReportTextFormatter {
public:
    VXCrashReportTextFormatter(VXCrashReportTextFormat textFormat, QStringConverter::Encoding stringEncoding);

    // The text in the kept encoding; characters the encoding lacks are
    // replaced. Never fails for a decoded report; a null report is an error.
    std::optional<QByteArray> formatReport(const VXCrashReport* report, VXCrashReporterError* error = nullptr) const;

    static QString stringValueForCrashReport(const VXCrashReport& report, VXCrashReportTextFormat textFormat);

private:
    static QString formatStackFrame(const VXCrashReportStackFrameInfo& frame, qint64 frameIndex,
                                    const VXCrashReport& report, bool lp64);

    VXCrashReportTextFormat textFormat_;
    QStringConverter::Encoding stringEncoding_;
};

#include "VXCrashReportTextFormatter.h"

#include "crash-reporting/reporter/VXCrashReporterLog.h"

#include <QStringEncoder>
#include <QUuid>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr int kMachEncoding = 1;
constexpr uint64_t kCpuX86 = 7;
constexpr uint64_t kCpuArm = 12;
constexpr uint64_t kCpuPowerPC = 18;
constexpr uint64_t kCpuX86_64 = 0x1000007;
constexpr uint64_t kCpuArm64 = 0x100000C;

// Missing and empty texts alike are unknown.
QString orUnknown(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("???") : text;
}

QString lastPathComponent(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

QString formatted(const char* format, auto... values)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return QString::fromLatin1(buffer);
}

QString operatingSystemName(int os)
{
    switch (os) {
    case 0:
    case 2:
        return QStringLiteral("Mac OS X");
    case 1:
        return QStringLiteral("iPhone OS");
    case 4:
        return QStringLiteral("Apple tvOS");
    default:
        return QStringLiteral("Unknown (%1)").arg(os);
    }
}

bool knownOperatingSystem(int os)
{
    return os == 0 || os == 1 || os == 2 || os == 4;
}

struct CodeType {
    QString name;
    bool lp64 = true;
};

std::optional<CodeType> namedMachCodeType(uint64_t type)
{
    switch (type) {
    case kCpuX86:
        return CodeType{QStringLiteral("X86"), false};
    case kCpuArm:
        return CodeType{QStringLiteral("ARM"), false};
    case kCpuPowerPC:
        return CodeType{QStringLiteral("PPC"), false};
    case kCpuX86_64:
        return CodeType{QStringLiteral("X86-64"), true};
    case kCpuArm64:
        return CodeType{QStringLiteral("ARM-64"), true};
    default:
        return std::nullopt;
    }
}

CodeType reportCodeType(const VXCrashReport& report)
{
    for (const auto& image : report.images()) {
        const auto& cpu = image->codeType();
        if (cpu && cpu->typeEncoding() == kMachEncoding)
            if (std::optional<CodeType> named = namedMachCodeType(cpu->type()))
                return *named;
    }
    const VXCrashReportProcessorInfoPtr cpu =
        report.systemInfo() ? report.systemInfo()->processorInfo() : VXCrashReportProcessorInfoPtr();
    if (cpu && cpu->typeEncoding() == kMachEncoding) {
        if (std::optional<CodeType> named = namedMachCodeType(cpu->type()))
            return *named;
        return {formatted("Unknown (%llu)", static_cast<unsigned long long>(cpu->type())), true};
    }
    return {QStringLiteral("Unknown"), true};
}

QString architectureName(const VXCrashReportProcessorInfoPtr& cpu)
{
    if (!cpu || cpu->typeEncoding() != kMachEncoding)
        return QStringLiteral("???");
    const uint64_t subtype = cpu->subtype() & 0xFFFFFF;
    switch (cpu->type()) {
    case kCpuX86:
        return QStringLiteral("i386");
    case kCpuPowerPC:
        return QStringLiteral("powerpc");
    case kCpuX86_64:
        return QStringLiteral("x86_64");
    case kCpuArm:
        switch (subtype) {
        case 6:
            return QStringLiteral("armv6");
        case 9:
            return QStringLiteral("armv7");
        case 11:
            return QStringLiteral("armv7s");
        default:
            return QStringLiteral("arm-unknown");
        }
    case kCpuArm64:
        switch (subtype) {
        case 0:
            return QStringLiteral("arm64");
        case 1:
            return QStringLiteral("armv8");
        case 2:
            return QStringLiteral("arm64e");
        default:
            return QStringLiteral("arm64-unknown");
        }
    default:
        return QStringLiteral("???");
    }
}

// NSDate's description: "2023-11-14 22:13:20 +0000".
QString standardDateText(const std::optional<QDateTime>& date)
{
    if (!date)
        return QStringLiteral("???");
    return date->toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QString padRight(const QString& text, qsizetype width)
{
    return text.size() >= width ? text : text + QString(width - text.size(), QLatin1Char(' '));
}

} // namespace

VXCrashReportTextFormatter::VXCrashReportTextFormatter(VXCrashReportTextFormat textFormat,
                                                       QStringConverter::Encoding stringEncoding)
    : textFormat_(textFormat), stringEncoding_(stringEncoding)
{
}

std::optional<QByteArray> VXCrashReportTextFormatter::formatReport(const VXCrashReport* report,
                                                                   VXCrashReporterError* error) const
{
    if (!report) {
        if (error) {
            error->code = VXCrashReporterErrorCrashReportInvalid;
            error->localizedDescription = QStringLiteral("No crash report to format");
        }
        return std::nullopt;
    }
    QStringEncoder encoder(stringEncoding_);
    QByteArray bytes = encoder.encode(stringValueForCrashReport(*report, textFormat_));
    return bytes;
}

QString VXCrashReportTextFormatter::formatStackFrame(const VXCrashReportStackFrameInfo& frame, qint64 frameIndex,
                                                     const VXCrashReport& report, bool lp64)
{
    const uint64_t ip = frame.instructionPointer();
    const auto image = report.imageForAddress(ip);
    const QString imageName = image ? orUnknown(lastPathComponent(image->imageName())) : QStringLiteral("???");

    QString location;
    if (const auto& symbol = frame.symbolInfo()) {
        QString name = symbol->symbolName();
        const int os = report.systemInfo() ? report.systemInfo()->operatingSystem() : 3;
        if (name.size() > 1 && name.startsWith(QLatin1Char('_'))) {
            if (knownOperatingSystem(os)) {
                name.remove(0, 1);
            } else {
                const QByteArray raw = name.toUtf8();
                vxcrash_log("[VXCrashReporter] Symbol \"%s\" prefix rules are unknown for this OS!", raw.constData());
            }
        }
        location = orUnknown(name) +
            formatted(" + %lld", static_cast<long long>(ip - symbol->startAddress()));
    } else {
        const uint64_t base = image ? image->imageBaseAddress() : 0;
        const uint64_t offset = image ? ip - base : 0;
        if (!image && ip != 0)
            vxcrash_log("[VXCrashReporter] Cannot find image for 0x%llx", static_cast<unsigned long long>(ip));
        location = formatted("0x%llx + %lld", static_cast<unsigned long long>(base), static_cast<long long>(offset));
    }
    return padRight(QString::number(frameIndex), 4) + padRight(imageName, 35) +
        formatted(" 0x%0*llx ", lp64 ? 16 : 8, static_cast<unsigned long long>(ip)) + location + QLatin1Char('\n');
}

QString VXCrashReportTextFormatter::stringValueForCrashReport(const VXCrashReport& report,
                                                              VXCrashReportTextFormat /*textFormat*/)
{
    QString text;
    const CodeType codeType = reportCodeType(report);

    // Header.
    text += QStringLiteral("Incident Identifier: %1\n")
                .arg(report.uuidRef() ? report.uuidRef()->toString(QUuid::WithoutBraces).toUpper()
                                      : QStringLiteral("???"));
    text += QStringLiteral("Hardware Model:      %1\n")
                .arg(report.machineInfo() ? orUnknown(report.machineInfo()->modelName()) : QStringLiteral("???"));

    QString processName = QStringLiteral("???");
    QString processId = QStringLiteral("???");
    QString processPath = QStringLiteral("???");
    QString parentName = QStringLiteral("???");
    QString parentId = QStringLiteral("???");
    if (const auto& process = report.processInfo()) {
        processName = orUnknown(process->processName());
        processId = QString::number(process->processID());
        processPath = orUnknown(process->processPath());
        parentName = orUnknown(process->parentProcessName());
        parentId = QString::number(process->parentProcessID());
    }
    QString identifier = QStringLiteral("???");
    QString version = QStringLiteral("???");
    if (const auto& application = report.applicationInfo()) {
        identifier = orUnknown(application->applicationIdentifier());
        version = orUnknown(application->applicationVersion());
        if (!application->applicationMarketingVersion().isEmpty())
            version = QStringLiteral("%1 (%2)").arg(application->applicationMarketingVersion(), version);
    }
    text += QStringLiteral("Process:         %1 [%2]\n").arg(processName, processId);
    text += QStringLiteral("Path:            %1\n").arg(processPath);
    text += QStringLiteral("Identifier:      %1\n").arg(identifier);
    text += QStringLiteral("Version:         %1\n").arg(version);
    text += QStringLiteral("Code Type:       %1\n").arg(codeType.name);
    text += QStringLiteral("Parent Process:  %1 [%2]\n").arg(parentName, parentId);

    const auto& system = report.systemInfo();
    text += QLatin1Char('\n');
    text += QStringLiteral("Date/Time:       %1\n").arg(standardDateText(system ? system->timestamp() : std::nullopt));
    text += QStringLiteral("OS Version:      %1 %2 (%3)\n")
                .arg(system ? operatingSystemName(system->operatingSystem()) : QStringLiteral("???"),
                     system ? orUnknown(system->operatingSystemVersion()) : QStringLiteral("???"),
                     system ? orUnknown(system->operatingSystemBuild()) : QStringLiteral("???"));
    text += QStringLiteral("Report Version:  104\n");
    text += QLatin1Char('\n');

    // Exception.
    const auto& signal = report.signalInfo();
    text += QStringLiteral("Exception Type:  %1\n").arg(signal ? orUnknown(signal->name()) : QStringLiteral("???"));
    text += QStringLiteral("Exception Codes: %1 at %2\n")
                .arg(signal ? orUnknown(signal->code()) : QStringLiteral("???"),
                     formatted("0x%llx", static_cast<unsigned long long>(signal ? signal->address() : 0)));
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) {
            text += QStringLiteral("Crashed Thread:  %1\n").arg(thread->threadNumber());
            break;
        }
    }
    text += QLatin1Char('\n');

    if (const auto& exception = report.exceptionInfo()) {
        text += QStringLiteral("Application Specific Information:\n");
        text += QStringLiteral("*** Terminating app due to uncaught exception '%1', reason: '%2'\n")
                    .arg(orUnknown(exception->exceptionName()), orUnknown(exception->exceptionReason()));
        text += QLatin1Char('\n');
        if (exception->stackFrames() && !exception->stackFrames()->isEmpty()) {
            text += QStringLiteral("Last Exception Backtrace:\n");
            qint64 index = 0;
            for (const auto& frame : *exception->stackFrames())
                text += formatStackFrame(*frame, index++, report, codeType.lp64);
            text += QLatin1Char('\n');
        }
    }

    // Threads.
    std::shared_ptr<const VXCrashReportThreadInfo> crashedThread;
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) {
            text += QStringLiteral("Thread %1 Crashed:\n").arg(thread->threadNumber());
            crashedThread = thread;
        } else {
            text += QStringLiteral("Thread %1:\n").arg(thread->threadNumber());
        }
        qint64 index = 0;
        for (const auto& frame : thread->stackFrames())
            text += formatStackFrame(*frame, index++, report, codeType.lp64);
        text += QLatin1Char('\n');
    }

    if (crashedThread) {
        text += QStringLiteral("Thread %1 crashed with %2 Thread State:\n")
                    .arg(crashedThread->threadNumber())
                    .arg(codeType.name);
        const VXCrashReportProcessorInfoPtr machine =
            report.machineInfo() ? report.machineInfo()->processorInfo() : VXCrashReportProcessorInfoPtr();
        const bool armNames = machine && machine->typeEncoding() == kMachEncoding && (machine->type() & 0xFFFFFF) == kCpuArm;
        int column = 0;
        for (const auto& reg : crashedThread->registers()) {
            QString name = reg->registerName();
            if (armNames && name == QLatin1String("r12"))
                name = QStringLiteral("ip");
            const QByteArray rawName = name.toUtf8();
            char line[96];
            std::snprintf(line, sizeof line, codeType.lp64 ? "%6s: 0x%016llx " : "%6s: 0x%08llx ", rawName.constData(),
                          static_cast<unsigned long long>(reg->registerValue()));
            text += QString::fromUtf8(line);
            if (++column == 4) {
                text += QLatin1Char('\n');
                column = 0;
            }
        }
        if (column != 0 || crashedThread->registers().isEmpty())
            text += QLatin1Char('\n');
    }

    // Images, by load address; one line per address.
    text += QStringLiteral("Binary Images:\n");
    QList<std::shared_ptr<const VXCrashReportBinaryImageInfo>> images = report.images();
    std::stable_sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    const QString processPathForImages = report.processInfo() ? report.processInfo()->processPath() : QString();
    std::optional<uint64_t> previousBase;
    for (const auto& image : images) {
        const uint64_t base = image->imageBaseAddress();
        if (previousBase && *previousBase == base)
            continue;
        previousBase = base;
        const uint64_t end = image->imageSize() > 1 ? base + image->imageSize() - 1 : base;
        const bool isMain = !processPathForImages.isEmpty() && image->imageName() == processPathForImages;
        text += formatted(codeType.lp64 ? "%#18llx - %#18llx " : "%#10llx - %#10llx ",
                       static_cast<unsigned long long>(base), static_cast<unsigned long long>(end));
        text += (isMain ? QStringLiteral("+") : QStringLiteral(" ")) + orUnknown(lastPathComponent(image->imageName())) +
            QLatin1Char(' ') + architectureName(image->codeType()) + QStringLiteral("  <") +
            orUnknown(image->imageUUID()) + QStringLiteral("> ") + orUnknown(image->imageName()) + QLatin1Char('\n');
    }
    return text;
}

#include "AnalyticsCrashReportProcessor.h"

#include "crash-reporting/error-tracking/AnalyticsInAppRule.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace analytics::AnalyticsCrashReportProcessor {

namespace {

constexpr uint64_t kArm64AddressMask = 0xFFFFFFFFFULL;
constexpr int kMachEncoding = 1;
constexpr uint64_t kCpuArm = 12;
constexpr uint64_t kCpuX86_64 = 0x1000007;
constexpr uint64_t kCpuArm64 = 0x100000C;

using CodeNames = QHash<int64_t, QString>;

const QHash<uint64_t, QString>& machExceptionNames()
{
    static const QHash<uint64_t, QString> names = {
        {1, QStringLiteral("EXC_BAD_ACCESS")},     {2, QStringLiteral("EXC_BAD_INSTRUCTION")},
        {3, QStringLiteral("EXC_ARITHMETIC")},     {4, QStringLiteral("EXC_EMULATION")},
        {5, QStringLiteral("EXC_SOFTWARE")},       {6, QStringLiteral("EXC_BREAKPOINT")},
        {7, QStringLiteral("EXC_SYSCALL")},        {8, QStringLiteral("EXC_MACH_SYSCALL")},
        {9, QStringLiteral("EXC_RPC_ALERT")},      {10, QStringLiteral("EXC_CRASH")},
        {11, QStringLiteral("EXC_RESOURCE")},      {12, QStringLiteral("EXC_GUARD")},
        {13, QStringLiteral("EXC_CORPSE_NOTIFY")},
    };
    return names;
}

const CodeNames& kernelReturnCodeNames()
{
    static const CodeNames names = [] {
        static constexpr const char* kernel[] = {
            "KERN_SUCCESS", "KERN_INVALID_ADDRESS", "KERN_PROTECTION_FAILURE", "KERN_NO_SPACE",
            "KERN_INVALID_ARGUMENT", "KERN_FAILURE", "KERN_RESOURCE_SHORTAGE", "KERN_NOT_RECEIVER",
            "KERN_NO_ACCESS", "KERN_MEMORY_FAILURE", "KERN_MEMORY_ERROR", "KERN_ALREADY_IN_SET",
            "KERN_NOT_IN_SET", "KERN_NAME_EXISTS", "KERN_ABORTED", "KERN_INVALID_NAME",
            "KERN_INVALID_TASK", "KERN_INVALID_RIGHT", "KERN_INVALID_VALUE", "KERN_UREFS_OVERFLOW",
            "KERN_INVALID_CAPABILITY", "KERN_RIGHT_EXISTS", "KERN_INVALID_HOST", "KERN_MEMORY_PRESENT",
            "KERN_MEMORY_DATA_MOVED", "KERN_MEMORY_RESTART_COPY", "KERN_INVALID_PROCESSOR_SET", "KERN_POLICY_LIMIT",
            "KERN_INVALID_POLICY", "KERN_INVALID_OBJECT", "KERN_ALREADY_WAITING", "KERN_DEFAULT_SET",
            "KERN_EXCEPTION_PROTECTED", "KERN_INVALID_LEDGER", "KERN_INVALID_MEMORY_CONTROL", "KERN_INVALID_SECURITY",
            "KERN_NOT_DEPRESSED", "KERN_TERMINATED", "KERN_LOCK_SET_DESTROYED", "KERN_LOCK_UNSTABLE",
            "KERN_LOCK_OWNED", "KERN_LOCK_OWNED_SELF", "KERN_SEMAPHORE_DESTROYED", "KERN_RPC_SERVER_TERMINATED",
            "KERN_RPC_TERMINATE_ORPHAN", "KERN_RPC_CONTINUE_ORPHAN", "KERN_NOT_SUPPORTED", "KERN_NODE_DOWN",
            "KERN_NOT_WAITING", "KERN_OPERATION_TIMED_OUT", "KERN_CODESIGN_ERROR",
        };
        CodeNames table;
        int64_t code = 0;
        for (const char* name : kernel)
            table.insert(code++, QString::fromLatin1(name));
        table.insert(257, QStringLiteral("EXC_ARM_DA_ALIGN"));
        table.insert(258, QStringLiteral("EXC_ARM_DA_DEBUG"));
        table.insert(259, QStringLiteral("EXC_ARM_SP_ALIGN"));
        table.insert(260, QStringLiteral("EXC_ARM_SWP"));
        table.insert(261, QStringLiteral("EXC_ARM_PAC_FAIL"));
        return table;
    }();
    return names;
}

const CodeNames* exceptionCodeNames(uint64_t type)
{
    static const CodeNames badInstruction = {{1, QStringLiteral("EXC_ARM_UNDEFINED")},
                                             {2, QStringLiteral("EXC_ARM_SME_DISALLOWED")}};
    static const CodeNames arithmetic = {
        {0, QStringLiteral("EXC_ARM_FP_UNDEFINED")}, {1, QStringLiteral("EXC_ARM_FP_IO")},
        {2, QStringLiteral("EXC_ARM_FP_DZ")},        {3, QStringLiteral("EXC_ARM_FP_OF")},
        {4, QStringLiteral("EXC_ARM_FP_UF")},        {5, QStringLiteral("EXC_ARM_FP_IX")},
        {6, QStringLiteral("EXC_ARM_FP_ID")},
    };
    static const CodeNames breakpoint = {{1, QStringLiteral("EXC_ARM_BREAKPOINT")}};
    switch (type) {
    case 1:
        return &kernelReturnCodeNames();
    case 2:
        return &badInstruction;
    case 3:
        return &arithmetic;
    case 6:
        return &breakpoint;
    default:
        return nullptr;
    }
}

// Case-insensitive; "^" and "$" anchor at the ends of the whole message and
// "." stops at a line break.
const QRegularExpression& fatalErrorRegex()
{
    static const QRegularExpression regex(
        QStringLiteral(R"(^(Assertion failed|Fatal error|Precondition failed): ((.+): )?file .+, line \d+$)"),
        QRegularExpression::CaseInsensitiveOption);
    return regex;
}

const QRegularExpression& sourceLocationFatalErrorRegex()
{
    static const QRegularExpression regex(
        QStringLiteral(R"(^.+\.swift:\d+: (Assertion failed|Fatal error|Precondition failed): .+$)"),
        QRegularExpression::CaseInsensitiveOption);
    return regex;
}

std::optional<QString> firstGroup(const QRegularExpression& regex, const QString& message)
{
    if (!regex.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = regex.match(message);
    if (!match.hasMatch() || match.lastCapturedIndex() < 1 || match.capturedStart(1) < 0)
        return std::nullopt;
    return match.captured(1);
}

QString lastPathComponent(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

QString hex16(uint64_t value)
{
    return formatEventAddress(value);
}

std::optional<QString> imageArch(const VXCrashReportProcessorInfoPtr& cpu)
{
    if (!cpu)
        return std::nullopt;
    switch (cpu->type()) {
    case kCpuArm:
        if (cpu->subtype() == 9)
            return QStringLiteral("armv7");
        if (cpu->subtype() == 11)
            return QStringLiteral("armv7s");
        return QStringLiteral("arm");
    case kCpuX86_64:
        return QStringLiteral("x86_64");
    case kCpuArm64:
        return QStringLiteral("arm64");
    default:
        return std::nullopt;
    }
}

const VXCrashReportStackFrames& sourceFrames(const VXCrashReport& report)
{
    static const VXCrashReportStackFrames none;
    if (const auto& exception = report.exceptionInfo())
        if (exception->stackFrames() && !exception->stackFrames()->isEmpty())
            return *exception->stackFrames();
    if (const auto thread = findCrashedThread(report))
        return thread->stackFrames();
    return none;
}

} // namespace

bool isArm64Report(const VXCrashReport& report)
{
    const auto isArm64 = [](const VXCrashReportProcessorInfoPtr& cpu) {
        return cpu && cpu->typeEncoding() == kMachEncoding && cpu->type() == kCpuArm64;
    };
    if (report.machineInfo() && report.machineInfo()->processorInfo())
        return isArm64(report.machineInfo()->processorInfo());
    if (report.systemInfo() && report.systemInfo()->processorInfo())
        return isArm64(report.systemInfo()->processorInfo());
    for (const auto& image : report.images())
        if (image->codeType())
            return isArm64(image->codeType());
    return false;
}

std::shared_ptr<const VXCrashReportThreadInfo> findCrashedThread(const VXCrashReport& report)
{
    for (const auto& thread : report.threads())
        if (thread->crashed())
            return thread;
    return report.threads().isEmpty() ? nullptr : report.threads().first();
}

QList<AnalyticsStackFrame> buildStackFrames(const VXCrashReport& report, const AnalyticsErrorTrackingConfig& config)
{
    // Only 64-bit Arm return addresses carry bits to strip; masking any other
    // report would cut real addresses short.
    const uint64_t mask = isArm64Report(report) ? kArm64AddressMask : ~0ULL;
    QList<AnalyticsStackFrame> frames;
    for (const auto& source : sourceFrames(report)) {
        AnalyticsStackFrame frame;
        frame.instructionAddress = source->instructionPointer() & mask;
        const auto image = report.imageForAddress(source->instructionPointer());
        if (image) {
            frame.imageAddress = image->imageBaseAddress();
            if (!image->imageName().isEmpty()) {
                frame.module = lastPathComponent(image->imageName());
                frame.package = frame.module;
            }
        }
        frame.inApp = inapp::crashFrame(config, frame.module, image ? image->imageName() : QString());
        if (const auto& symbol = source->symbolInfo()) {
            if (!symbol->symbolName().isEmpty())
                frame.function = symbol->symbolName();
            frame.symbolAddress = symbol->startAddress();
        }
        frames.append(frame);
    }
    return frames;
}

std::optional<QString> crashInfoMessage(const VXCrashReportSignalInfo& signal)
{
    const QString trimmed = signal.crashInfoMessage().trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

std::optional<QString> parseSwiftFatalErrorType(const QString& message)
{
    if (std::optional<QString> kind = firstGroup(fatalErrorRegex(), message))
        return kind;
    return firstGroup(sourceLocationFatalErrorRegex(), message);
}

std::optional<QString> signalMessage(const VXCrashReportSignalInfo& signal)
{
    if (signal.name().isEmpty() || signal.code().isEmpty())
        return std::nullopt;
    return signal.name() + QStringLiteral(" (code ") + signal.code() + QStringLiteral(") at address ") +
        hex16(signal.address());
}

QString machExceptionName(uint64_t type)
{
    const auto found = machExceptionNames().constFind(type);
    if (found != machExceptionNames().constEnd())
        return *found;
    return QStringLiteral("EXC_UNKNOWN_") + QString::number(type);
}

QString machExceptionMessage(const VXCrashReportMachExceptionInfo& exception)
{
    const QString name = machExceptionName(exception.type());
    if (exception.codes().isEmpty())
        return name;
    const auto code = static_cast<int64_t>(exception.codes().first());
    QString codeText = QString::number(code);
    if (const CodeNames* names = exceptionCodeNames(exception.type())) {
        const auto found = names->constFind(code);
        if (found != names->constEnd())
            codeText = *found + QStringLiteral(" (") + QString::number(code) + QLatin1Char(')');
    }
    QString message = name + QStringLiteral(", Code ") + codeText;
    if (exception.codes().size() >= 2)
        message += QStringLiteral(", Subcode ") + hex16(exception.codes().at(1));
    return message;
}

std::optional<QVariantMap> buildExceptionInfo(const VXCrashReport& report, const QList<AnalyticsStackFrame>& frames)
{
    QVariantMap entry;
    const auto mechanism = [](const QString& type) {
        return QVariantMap{{QStringLiteral("type"), type},
                           {QStringLiteral("handled"), false},
                           {QStringLiteral("synthetic"), false}};
    };
    if (const auto& exception = report.exceptionInfo()) {
        if (!exception->exceptionName().isEmpty())
            entry.insert(QStringLiteral("type"), exception->exceptionName());
        if (!exception->exceptionReason().isEmpty())
            entry.insert(QStringLiteral("value"), exception->exceptionReason());
        entry.insert(QStringLiteral("mechanism"), mechanism(QStringLiteral("nsexception")));
    } else if (const auto& signal = report.signalInfo()) {
        const std::optional<QString> message = crashInfoMessage(*signal);
        const std::optional<QString> kind = message ? parseSwiftFatalErrorType(*message) : std::nullopt;
        if (kind) {
            entry.insert(QStringLiteral("type"), *kind);
            entry.insert(QStringLiteral("value"), *message);
        } else {
            if (!signal->name().isEmpty())
                entry.insert(QStringLiteral("type"), signal->name());
            if (const std::optional<QString> value = signalMessage(*signal))
                entry.insert(QStringLiteral("value"), *value);
        }
        QVariantMap meta;
        if (!signal->code().isEmpty())
            meta.insert(QStringLiteral("code"), signal->code());
        if (!signal->name().isEmpty())
            meta.insert(QStringLiteral("name"), signal->name());
        if (message)
            meta.insert(QStringLiteral("crash_info_message"), *message);
        QVariantMap signalMechanism = mechanism(QStringLiteral("signal"));
        signalMechanism.insert(QStringLiteral("meta"), QVariantMap{{QStringLiteral("signal"), meta}});
        entry.insert(QStringLiteral("mechanism"), signalMechanism);
    } else if (const auto& mach = report.machExceptionInfo()) {
        entry.insert(QStringLiteral("type"), machExceptionName(mach->type()));
        entry.insert(QStringLiteral("value"), machExceptionMessage(*mach));
        QVariantMap machMeta{{QStringLiteral("exception"), QVariant::fromValue<qulonglong>(mach->type())}};
        if (!mach->codes().isEmpty())
            machMeta.insert(QStringLiteral("code"), QVariant::fromValue<qulonglong>(mach->codes().at(0)));
        if (mach->codes().size() >= 2)
            machMeta.insert(QStringLiteral("subcode"), QVariant::fromValue<qulonglong>(mach->codes().at(1)));
        QVariantMap machMechanism = mechanism(QStringLiteral("mach_exception"));
        machMechanism.insert(QStringLiteral("meta"), QVariantMap{{QStringLiteral("mach"), machMeta}});
        entry.insert(QStringLiteral("mechanism"), machMechanism);
    } else {
        return std::nullopt;
    }

    if (!frames.isEmpty()) {
        QVariantList list;
        for (auto frame = frames.crbegin(); frame != frames.crend(); ++frame)
            list.append(frame->toDictionary());
        entry.insert(QStringLiteral("stacktrace"),
                     QVariantMap{{QStringLiteral("frames"), list}, {QStringLiteral("type"), QStringLiteral("raw")}});
    }
    if (const auto thread = findCrashedThread(report))
        entry.insert(QStringLiteral("thread_id"), QVariant::fromValue<qlonglong>(thread->threadNumber()));
    return entry;
}

QList<AnalyticsBinaryImageInfo> buildDebugImages(const VXCrashReport& report, const QList<AnalyticsStackFrame>& frames)
{
    QSet<uint64_t> addresses;
    for (const AnalyticsStackFrame& frame : frames)
        if (frame.imageAddress)
            addresses.insert(*frame.imageAddress);
    QList<AnalyticsBinaryImageInfo> images;
    if (addresses.isEmpty())
        return images;
    for (const auto& image : report.images()) {
        if (!addresses.contains(image->imageBaseAddress()) || image->imageName().isEmpty())
            continue;
        AnalyticsBinaryImageInfo info;
        info.name = image->imageName();
        if (image->hasImageUUID())
            info.uuid = formattedAsUUID(image->imageUUID());
        info.address = image->imageBaseAddress();
        info.size = image->imageSize();
        info.arch = imageArch(image->codeType());
        images.append(info);
    }
    return images;
}

QVariantMap processReport(const VXCrashReport& report, const AnalyticsErrorTrackingConfig& config)
{
    QVariantMap properties{{QStringLiteral("$exception_level"), QStringLiteral("fatal")}};
    const QList<AnalyticsStackFrame> frames = buildStackFrames(report, config);
    if (const std::optional<QVariantMap> entry = buildExceptionInfo(report, frames))
        properties.insert(QStringLiteral("$exception_list"), QVariantList{*entry});
    const QList<AnalyticsBinaryImageInfo> images = buildDebugImages(report, frames);
    if (!images.isEmpty()) {
        QVariantList list;
        for (const AnalyticsBinaryImageInfo& image : images)
            list.append(image.toDictionary());
        properties.insert(QStringLiteral("$debug_images"), list);
    }
    return properties;
}

} // namespace analytics::AnalyticsCrashReportProcessor

#include "crash-reporting/reporter/VXCrashReporter.h"

#include "crash-reporting/reporter/VXCrashAsync.h"
#include "crash-reporting/reporter/VXCrashFileOutput.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashMachException.h"
#include "crash-reporting/reporter/VXCrashProcessInfo.h"
#include "crash-reporting/reporter/VXCrashProcessTarget.h"
#include "crash-reporting/reporter/VXCrashReporterLog.h"
#include "crash-reporting/reporter/VXCrashSharedImages.h"
#include "crash-reporting/reporter/VXCrashSignalHandler.h"
#include "crash-reporting/reporter/VXCrashThreadList.h"

#include "platform/AppInfo.h"
#include "platform/Platform.h"
#include "platform/StandardPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

// The signals that end a process by a fault or an abort.
constexpr int kMonitoredSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kReportMode = 0644;
constexpr const char* kPartialReportSuffix = ".partial";
// Return addresses kept of the stack an uncaught exception was thrown from.
constexpr int kExceptionStackDepth = 128;

// What the crash-time code reads: set up when the reporter is enabled and
// never freed, since a signal may arrive while the process exits.
struct SignalHandlerContext {
    vxcrash_log_writer writer;
    char* reportPath = nullptr;
    // The report is written here and renamed to reportPath once whole, so a
    // reader finds a whole report or none. Named after the process (see
    // formatPartialPath), and renamed in place by a forked child: the buffer
    // has room for any pid and start time.
    char* partialPath = nullptr;
    size_t partialCapacity = 0;
    VXCrashProcessInfo::TickClock clock;
};

SignalHandlerContext& signalHandlerContext()
{
    static SignalHandlerContext* context = new SignalHandlerContext();
    return *context;
}

VXCrashReporterCallbacks g_crashCallbacks;
std::mutex g_enforceOneMutex;
bool g_enforceOne = false;
std::atomic<bool> g_exceptionIsHandled{false};
// The thread that writes the crash report: the first one to crash.
std::atomic<pid_t> g_reportingThread{0};
// The reporter whose custom data the crash-time writer carries.
std::atomic<const VXCrashReporter*> g_enabledReporter{nullptr};

// Writes the crash-time report of the calling thread under the partial name,
// then puts it in place. Async-signal-safe.
int writeReport(SignalHandlerContext& context, const ucontext_t* captured, const vxcrash_log_signal_info* info)
{
    const int fd = open(context.partialPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kReportMode);
    if (fd < 0)
        return VXCRASH_WRITER_INTERNAL;
    VXCrashFileOutput output(fd, 0);
    // Libraries loaded or unloaded since the list was last refreshed.
    vxcrash_async_image_list_sync_with_loader(vxcrash_shared_image_list());
    VXCrashProcessTarget target;
    int status = vxcrash_log_writer_write(&context.writer, target, vxcrash_async_gettid(), &output, info, captured);
    if (vxcrash_log_writer_close(&context.writer) != VXCRASH_WRITER_OK)
        status = VXCRASH_WRITER_INTERNAL;
    if (!output.close() && status == VXCRASH_WRITER_OK)
        status = VXCRASH_WRITER_INTERNAL;
    if (status == VXCRASH_WRITER_OK && rename(context.partialPath, context.reportPath) != 0)
        status = VXCRASH_WRITER_INTERNAL;
    if (status != VXCRASH_WRITER_OK)
        unlink(context.partialPath);
    return status;
}

bool signalCallback(int signo, siginfo_t* info, ucontext_t* uap, void*, VXCrashSignalHandlerCallback* next)
{
    // One report per process, by the first thread to crash. A thread that
    // crashes while it is reported waits here: letting it go on would let the
    // default action end the process halfway through the report.
    const pid_t self = vxcrash_async_gettid();
    pid_t owner = 0;
    if (!g_reportingThread.compare_exchange_strong(owner, self)) {
        // The reporting thread itself faulted (in the reporter, or after
        // the handlers it forwarded to returned): the default action ends
        // the process.
        if (owner == self)
            return false;
        for (;;)
            pause();
    }

    // Only kernel-made fault signals carry an address; abort() and kill()
    // leave si_addr meaningless.
    const vxcrash_log_bsd_signal_info bsd{signo, info->si_code,
                                          info->si_code > 0 ? uint64_t(uintptr_t(info->si_addr)) : 0};
    const vxcrash_log_signal_info signalInfo{&bsd, nullptr};
    if (writeReport(signalHandlerContext(), uap, &signalInfo) == VXCRASH_WRITER_OK && g_crashCallbacks.crashCallback)
        g_crashCallbacks.crashCallback(info, uap, g_crashCallbacks.context);

    // Not handled here: the handlers installed before ours get the signal,
    // and without one it ends the process.
    return VXCrashSignalHandlerForward(next, signo, info, uap);
}

std::string demangled(const char* name)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && readable ? readable : name;
    std::free(readable);
    return result;
}

[[noreturn]] void terminateHandler()
{
    bool expected = false;
    if (!g_exceptionIsHandled.compare_exchange_strong(expected, true)) {
        // Another thread is already writing the report and aborting.
        for (;;)
            pause();
    }
    if (std::exception_ptr exception = std::current_exception()) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        const std::string name = type ? demangled(type->name()) : "unknown";
        std::string reason;
        try {
            std::rethrow_exception(exception);
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
        }
        // The stack has not been unwound: it still shows where the exception
        // was thrown. Our own frame is left out.
        void* frames[kExceptionStackDepth];
        const int count = backtrace(frames, kExceptionStackDepth);
        std::vector<uint64_t> addresses;
        for (int i = 1; i < count; ++i)
            addresses.push_back(uint64_t(uintptr_t(frames[i])));
        vxcrash_log_writer_set_exception(&signalHandlerContext().writer, name, reason, addresses);
    }
    std::abort();
}

// Makes `path` and its missing parents with the reporter's folder mode.
bool makeFolders(const QString& path, int* errnum)
{
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    std::string partial;
    for (qsizetype i = 0; i <= native.size(); ++i) {
        if (i == native.size() || (native[i] == '/' && i > 0)) {
            partial.assign(native.constData(), size_t(i));
            if (mkdir(partial.c_str(), kFolderMode) != 0 && errno != EEXIST) {
                *errnum = errno;
                return false;
            }
        }
    }
    struct stat info;
    if (stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *errnum = errno ? errno : ENOTDIR;
        return false;
    }
    return true;
}

// `maxBytes` 0 reads any size; a larger file fails with EFBIG before a byte
// of it is read.
std::optional<QByteArray> readWholeFile(const QString& path, int* errnum, size_t maxBytes = 0)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *errnum = errno;
        return std::nullopt;
    }
    struct stat info;
    const bool sized = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    if (maxBytes > 0 && sized && uint64_t(info.st_size) > maxBytes) {
        *errnum = EFBIG;
        close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    // One allocation for the size the file has now, instead of one per growth.
    if (sized && uint64_t(info.st_size) < uint64_t(std::numeric_limits<qsizetype>::max()))
        bytes.reserve(qsizetype(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *errnum = errno;
            close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        // The file may grow after the check.
        if (maxBytes > 0 && size_t(bytes.size()) + size_t(got) > maxBytes) {
            *errnum = EFBIG;
            close(fd);
            return std::nullopt;
        }
        bytes.append(chunk, got);
    }
    close(fd);
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

// Room for ".<pid>.<start ticks>" and the suffix after the report's path.
constexpr size_t kPartialNameRoom = 2 * 24 + 16;

// Each process writes its report under a partial name of its own, so two
// instances that crash at once do not share one: the report's path, the
// process's pid and start ticks, ".partial". Async-signal-safe.
void formatPartialPath(SignalHandlerContext& context, pid_t pid, uint64_t startTicks)
{
    const size_t reportLength = std::strlen(context.reportPath);
    if (reportLength + kPartialNameRoom > context.partialCapacity)
        return;
    char* at = context.partialPath;
    std::memcpy(at, context.reportPath, reportLength);
    at += reportLength;
    *at++ = '.';
    at = vxcrash_async_append_decimal(at, uint64_t(pid));
    *at++ = '.';
    at = vxcrash_async_append_decimal(at, startTicks);
    std::memcpy(at, kPartialReportSuffix, std::strlen(kPartialReportSuffix) + 1);
}

// A partial report is what a crash left when the process ended while it was
// written. The one of a process still running is its own business; a process
// that has the pid now but started at another time is not the one that
// wrote it. A name that carries no start time is left over as well.
void removeLeftoverPartialReports(const QString& folder)
{
    const QString prefix = QLatin1String(VXCrashReporter::kLiveReportFileName) + QLatin1Char('.');
    const QStringList names = QDir(folder).entryList({prefix + QLatin1Char('*') + QLatin1String(kPartialReportSuffix)},
                                                     QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const qsizetype length = name.size() - prefix.size() - qsizetype(std::strlen(kPartialReportSuffix));
        const QStringList parts = name.mid(prefix.size(), length).split(QLatin1Char('.'));
        bool pidIsNumber = false;
        bool ticksAreNumber = false;
        const pid_t pid = parts.size() == 2 ? pid_t(parts[0].toInt(&pidIsNumber)) : 0;
        const qulonglong ticks = parts.size() == 2 ? parts[1].toULongLong(&ticksAreNumber) : 0;
        uint64_t runningTicks = 0;
        if (pidIsNumber && ticksAreNumber && pid > 0 && pid != getpid()
            && VXCrashProcessInfo::startTicks(pid, &runningTicks) && runningTicks == ticks) {
            continue;
        }
        unlink(QFile::encodeName(folder + QLatin1Char('/') + name).constData());
    }
}

// Runs in a child forked after enable, before fork returns there: the child
// reports as itself, under a partial name of its own. Async-signal-safe, as
// anything in the child of a process with threads must be.
void adoptForkedChild()
{
    const int savedErrno = errno;
    SignalHandlerContext& context = signalHandlerContext();
    const pid_t pid = getpid();
    uint64_t ticks = 0;
    VXCrashProcessInfo::startTicks(0, &ticks);
    vxcrash_log_writer_forked(&context.writer, pid, context.clock.startTime(ticks).seconds);
    formatPartialPath(context, pid, ticks);
    // A report the parent was writing at the fork is not the child's to wait
    // for: its thread is not in the child.
    g_reportingThread.store(0);
    errno = savedErrno;
}

QString processName()
{
    char name[16] = {};
    const int fd = open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = read(fd, name, sizeof name - 1);
        close(fd);
        if (got > 0 && name[got - 1] == '\n')
            name[got - 1] = '\0';
    }
    return QString::fromUtf8(name);
}

} // namespace

VXCrashReporter& VXCrashReporter::sharedReporter()
{
    static VXCrashReporter* reporter = new VXCrashReporter(VXCrashReporterConfig::defaultConfiguration());
    return *reporter;
}

VXCrashReporter::VXCrashReporter() : VXCrashReporter(VXCrashReporterConfig::defaultConfiguration()) { }

VXCrashReporter::VXCrashReporter(const VXCrashReporterConfig& configuration)
    : VXCrashReporter(BundleValues::fromApplication(), configuration)
{
}

VXCrashReporter::BundleValues VXCrashReporter::BundleValues::fromApplication()
{
    BundleValues values;
    if (const auto& info = platform::Platform::current().appInfo) {
        values.identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
        values.version = info->value(QStringLiteral("CFBundleVersion")).toString();
        values.marketingVersion = info->value(QStringLiteral("CFBundleShortVersionString")).toString();
    }
    if (values.identifier.isEmpty()) {
        values.identifier = processName();
        if (values.identifier.isEmpty())
            throw VXCrashReporterException("Can not determine process identifier or process name");
        vxcrash_log("[VXCrashReporter] Warning -- bundle identifier, using process name %s",
                    qPrintable(values.identifier));
    }
    if (values.version.isEmpty()) {
        vxcrash_log("[VXCrashReporter] Warning -- bundle version unavailable");
        values.version = QStringLiteral("");
    }
    return values;
}

VXCrashReporter::VXCrashReporter(const BundleValues& values, const VXCrashReporterConfig& configuration)
    : VXCrashReporter(values.identifier, values.version, values.marketingVersion, configuration)
{
}

VXCrashReporter::VXCrashReporter(const QString& applicationIdentifier, const QString& applicationVersion,
                                 const QString& applicationMarketingVersion,
                                 const VXCrashReporterConfig& configuration)
    : configuration_(configuration), applicationIdentifier_(applicationIdentifier),
      applicationVersion_(applicationVersion), applicationMarketingVersion_(applicationMarketingVersion)
{
    if (applicationIdentifier_.isEmpty())
        throw VXCrashReporterException("Can not determine process identifier or process name");
    const QString base =
        configuration_.basePath().isNull() ? platform::paths::cachesFolder() : configuration_.basePath();
    QString folder = applicationIdentifier_;
    folder.replace(QLatin1Char('/'), QLatin1Char('_'));
    crashReportDirectory_ = base + QLatin1Char('/') + QLatin1String(kDataFolderName) + QLatin1Char('/') + folder;
}

VXCrashReporter::~VXCrashReporter()
{
    // The crash-time state outlives the object; it only stops carrying our data.
    const VXCrashReporter* self = this;
    g_enabledReporter.compare_exchange_strong(self, nullptr);
}

QString VXCrashReporter::queuedCrashReportDirectory() const
{
    return crashReportDirectory_ + QLatin1Char('/') + QLatin1String(kQueuedReportsFolderName);
}

QString VXCrashReporter::crashReportPath() const
{
    return crashReportDirectory_ + QLatin1Char('/') + QLatin1String(kLiveReportFileName);
}

bool VXCrashReporter::hasPendingCrashReport() const
{
    return QFileInfo::exists(crashReportPath());
}

std::optional<QByteArray> VXCrashReporter::loadPendingCrashReportData(VXCrashReporterError* error) const
{
    int errnum = 0;
    // Nothing larger than the writer's largest report is read: such a file
    // was not written by us, and decoding it could take any time and memory.
    auto bytes = readWholeFile(crashReportPath(), &errnum, kVXCrashReportMaxBytes);
    if (!bytes) {
        if (errnum == EFBIG) {
            vxcrash_log("[VXCrashReporter] Refusing the pending crash report: larger than the %zu bytes a report "
                        "can have",
                        kVXCrashReportMaxBytes);
        }
        vxcrash_set_error(error, vxcrash_posix_error(errnum));
    }
    return bytes;
}

bool VXCrashReporter::purgePendingCrashReport(VXCrashReporterError* error)
{
    if (unlink(QFile::encodeName(crashReportPath()).constData()) == 0)
        return true;
    vxcrash_set_error(error, vxcrash_posix_error(errno));
    return false;
}

bool VXCrashReporter::enableCrashReporter(VXCrashReporterError* error)
{
    {
        std::lock_guard lock(g_enforceOneMutex);
        if (g_enforceOne) {
            vxcrash_set_error(error, vxcrash_make_error(VXCrashReporterErrorResourceBusy,
                                                        QStringLiteral("A VXCrashReporter instance has already been enabled")));
            return false;
        }
        g_enforceOne = true;
    }

    int errnum = 0;
    if (!makeFolders(crashReportDirectory_, &errnum) || !makeFolders(queuedCrashReportDirectory(), &errnum)) {
        vxcrash_set_error(error, vxcrash_posix_error(errnum));
        return false;
    }

    removeLeftoverPartialReports(crashReportDirectory_);
    SignalHandlerContext& context = signalHandlerContext();
    // Without them a forked child's report has no start time, and partial
    // names carry a start of 0; the report is written all the same.
    uint64_t startTicks = 0;
    VXCrashProcessInfo::startTicks(0, &startTicks);
    context.clock = VXCrashProcessInfo::TickClock::current().value_or(VXCrashProcessInfo::TickClock{});
    context.reportPath = strdup(QFile::encodeName(crashReportPath()).constData());
    context.partialCapacity = context.reportPath ? std::strlen(context.reportPath) + kPartialNameRoom : 0;
    context.partialPath = context.reportPath ? static_cast<char*>(std::malloc(context.partialCapacity)) : nullptr;
    if (!context.reportPath || !context.partialPath) {
        vxcrash_set_error(error, vxcrash_posix_error(ENOMEM));
        return false;
    }
    formatPartialPath(context, getpid(), startTicks);
    if (vxcrash_log_writer_init(&context.writer, applicationIdentifier_.toStdString(),
                                applicationVersion_.toStdString(), applicationMarketingVersion_.toStdString(),
                                configuration_.symbolicationStrategy() & VXCrashReporterConfig::SymbolicationStrategyAll,
                                false)
        != VXCRASH_WRITER_OK) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Failed to read this process's information"), EINVAL));
        return false;
    }
    if (!customData_.isNull())
        vxcrash_log_writer_set_custom_data(&context.writer, customData_.constData(), size_t(customData_.size()));
    pthread_atfork(nullptr, nullptr, adoptForkedChild);
    g_enabledReporter.store(this);
    vxcrash_nasync_shared_image_list_refresh();

    if (!vxcrash_nasync_thread_stop_install(error))
        return false;

    switch (configuration_.signalHandlerType()) {
    case VXCrashReporterConfig::SignalHandlerTypeMach: {
        VXCrashReporterError machError;
        VXCrashMachExceptionServer::create(nullptr, nullptr, &machError);
        vxcrash_log("[VXCrashReporter] %s; capturing signals instead", qPrintable(machError.localizedDescription));
        [[fallthrough]];
    }
    case VXCrashReporterConfig::SignalHandlerTypeBSD:
        for (int signo : kMonitoredSignals) {
            if (!VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(signo, signalCallback, nullptr, error))
                return false;
        }
        break;
    default:
        break;
    }

    if (configuration_.shouldRegisterUncaughtExceptionHandler())
        std::set_terminate(terminateHandler);

    enabled_ = true;
    return true;
}

void VXCrashReporter::setCrashCallbacks(const VXCrashReporterCallbacks& callbacks)
{
    if (enabled_)
        throw VXCrashReporterException("The crash reporter has already been enabled");
    if (callbacks.version != 0) {
        std::fprintf(stderr, "[VXCrashReporter] Unsupported crash callbacks version %u\n", unsigned(callbacks.version));
        std::abort();
    }
    g_crashCallbacks = callbacks;
}

void VXCrashReporter::setCustomData(const QByteArray& data)
{
    if (!data.isNull() && size_t(data.size()) > kVXCrashReportMaxCustomDataBytes) {
        vxcrash_log("[VXCrashReporter] Custom data of %lld bytes is over the %zu bytes a report keeps; not set",
                    static_cast<long long>(data.size()), kVXCrashReportMaxCustomDataBytes);
        return;
    }
    customData_ = data;
    if (g_enabledReporter.load() != this)
        return;
    vxcrash_log_writer_set_custom_data(&signalHandlerContext().writer, data.isNull() ? nullptr : data.constData(),
                                       size_t(data.size()));
}

std::optional<QByteArray> VXCrashReporter::generateLiveReport(VXCrashReporterError* error)
{
    return liveReport(vxcrash_async_gettid(), nullptr, uint64_t(uintptr_t(__builtin_return_address(0))), error);
}

std::optional<QByteArray> VXCrashReporter::generateLiveReportWithException(
    const VXCrashReporterExceptionInfo& exception, VXCrashReporterError* error)
{
    return liveReport(vxcrash_async_gettid(), &exception, uint64_t(uintptr_t(__builtin_return_address(0))), error);
}

std::optional<QByteArray> VXCrashReporter::generateLiveReportWithThread(pid_t thread, VXCrashReporterError* error)
{
    return liveReport(thread, nullptr, uint64_t(uintptr_t(__builtin_return_address(0))), error);
}

std::optional<QByteArray> VXCrashReporter::generateLiveReportWithThread(
    pid_t thread, const VXCrashReporterExceptionInfo* exception, VXCrashReporterError* error)
{
    return liveReport(thread, exception, uint64_t(uintptr_t(__builtin_return_address(0))), error);
}

std::optional<QByteArray> VXCrashReporter::liveReport(pid_t thread, const VXCrashReporterExceptionInfo* exception,
                                                      uint64_t callerAddress, VXCrashReporterError* error)
{
    QByteArray pathTemplate = QFile::encodeName(QDir::tempPath() + QStringLiteral("/live_crash_report.XXXXXX"));
    const int fd = mkstemp(pathTemplate.data());
    if (fd < 0) {
        vxcrash_set_error(error, vxcrash_os_error(QCoreApplication::translate("VXCrashReporter",
                                                                              "Failed to create temporary path"),
                                                  errno));
        return std::nullopt;
    }
    vxcrash_nasync_thread_stop_install(nullptr);
    vxcrash_nasync_shared_image_list_refresh();

    vxcrash_log_writer writer;
    std::optional<QByteArray> result;
    int status = vxcrash_log_writer_init(&writer, applicationIdentifier_.toStdString(),
                                         applicationVersion_.toStdString(),
                                         applicationMarketingVersion_.toStdString(),
                                         configuration_.symbolicationStrategy()
                                             & VXCrashReporterConfig::SymbolicationStrategyAll,
                                         true);
    VXCrashFileOutput output(fd, configuration_.maxReportBytes());
    if (status == VXCRASH_WRITER_OK) {
        if (!customData_.isNull())
            vxcrash_log_writer_set_custom_data(&writer, customData_.constData(), size_t(customData_.size()));
        if (exception) {
            vxcrash_log_writer_set_exception(&writer, exception->name.toStdString(), exception->reason.toStdString(),
                                             exception->callStackReturnAddresses);
        }
        const vxcrash_log_bsd_signal_info bsd{SIGTRAP, TRAP_TRACE, callerAddress};
        const vxcrash_log_signal_info info{&bsd, nullptr};
        VXCrashProcessTarget target;
        if (thread == vxcrash_async_gettid()) {
            ucontext_t captured;
            getcontext(&captured);
            status = vxcrash_log_writer_write(&writer, target, thread, &output, &info, &captured);
        } else {
            status = vxcrash_log_writer_write(&writer, target, thread, &output, &info, nullptr);
        }
        vxcrash_log_writer_close(&writer);
    }
    const bool closed = output.close();
    if (status == VXCRASH_WRITER_OK && !closed)
        status = VXCRASH_WRITER_OUTPUT;

    if (status != VXCRASH_WRITER_OK) {
        vxcrash_log("[VXCrashReporter] Write failed with error %s", vxcrash_async_strerror(status));
        vxcrash_set_error(error, vxcrash_make_error(VXCrashReporterErrorUnknown,
                                                    QStringLiteral("Failed to write the crash report to disk")));
    } else {
        int errnum = 0;
        result = readWholeFile(QFile::decodeName(pathTemplate), &errnum);
        if (!result) {
            vxcrash_set_error(error, vxcrash_make_error(VXCrashReporterErrorUnknown,
                                                        QCoreApplication::translate(
                                                            "VXCrashReporter",
                                                            "Unable to open live crash report for reading")));
        }
    }

    vxcrash_log_writer_free(&writer);
    if (unlink(pathTemplate.constData()) != 0)
        vxcrash_log("[VXCrashReporter] Failure occured deleting live crash report: %s", std::strerror(errno));
    return result;
}

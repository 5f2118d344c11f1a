#include "AnalyticsStackTraceProcessor.h"

#include "crash-reporting/error-tracking/AnalyticsInAppRule.h"

#include <QFileInfo>

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

#include <algorithm>

namespace analytics::AnalyticsStackTraceProcessor {

namespace {

constexpr int kMaxFrames = 256;

bool isAnalyticsFrame(const AnalyticsStackFrame& frame)
{
    if (frame.module && (*frame.module == QLatin1String("Analytics") || frame.module->startsWith(QLatin1String("Analytics."))))
        return true;
    // The client is linked into the program rather than loaded as its own
    // image, so its frames are known by their namespace.
    return frame.function &&
        (frame.function->startsWith(QLatin1String("_ZN9analytics")) ||
         frame.function->startsWith(QLatin1String("_ZNK9analytics")) ||
         frame.function->startsWith(QLatin1String("analytics::")));
}

const void* mainProgramBase()
{
    static const void* base = [] {
        const void* found = nullptr;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* out) {
                for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                    if (info->dlpi_phdr[i].p_type == PT_LOAD) {
                        *static_cast<const void**>(out) =
                            reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                        return 1;
                    }
                }
                return 1;
            },
            &found);
        return found;
    }();
    return base;
}

QVariantMap rawStacktrace(const QList<AnalyticsStackFrame>& frames)
{
    QVariantList list;
    for (auto frame = frames.crbegin(); frame != frames.crend(); ++frame)
        list.append(frame->toDictionary());
    return {{QStringLiteral("frames"), list}, {QStringLiteral("type"), QStringLiteral("raw")}};
}

} // namespace

QString mainExecutablePath()
{
    static const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return path;
}

QList<AnalyticsStackFrame> symbolicateAddresses(const std::vector<uint64_t>& addresses,
                                                const AnalyticsErrorTrackingConfig& config,
                                                bool stripTopAnalyticsFrames)
{
    // Return addresses of this process are used as they are: on this system
    // no authentication bits need removing, and cutting them to 36 bits would
    // break the addresses of 64-bit processes.
    QList<AnalyticsStackFrame> frames;
    bool stripping = stripTopAnalyticsFrames;
    for (const uint64_t address : addresses) {
        Dl_info info{};
        if (dladdr(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info) == 0)
            continue;
        AnalyticsStackFrame frame;
        frame.instructionAddress = address;
        QString path = info.dli_fname ? QString::fromLocal8Bit(info.dli_fname) : QString();
        if (info.dli_fbase == mainProgramBase() && (path.isEmpty() || !path.startsWith(QLatin1Char('/'))))
            path = mainExecutablePath();
        if (!path.isEmpty()) {
            frame.package = path;
            frame.module = path.section(QLatin1Char('/'), -1);
            frame.imageAddress = reinterpret_cast<uintptr_t>(info.dli_fbase);
        }
        frame.inApp = inapp::liveFrame(config, path);
        if (info.dli_sname) {
            frame.function = QString::fromLatin1(info.dli_sname);
            frame.symbolAddress = reinterpret_cast<uintptr_t>(info.dli_saddr);
        }
        if (stripping) {
            if (isAnalyticsFrame(frame))
                continue;
            stripping = false;
        }
        frames.append(frame);
    }
    return frames;
}

std::optional<QVariantMap> buildStacktrace(const AnalyticsErrorTrackingConfig& config)
{
    void* buffer[kMaxFrames];
    const int count = backtrace(buffer, kMaxFrames);
    // The first address returns into this function.
    std::vector<uint64_t> addresses;
    for (int i = 1; i < count; ++i)
        addresses.push_back(reinterpret_cast<uintptr_t>(buffer[i]));
    const QList<AnalyticsStackFrame> frames = symbolicateAddresses(addresses, config, true);
    if (frames.isEmpty())
        return std::nullopt;
    return rawStacktrace(frames);
}

std::optional<QVariantMap> buildStacktraceFromAddresses(const std::vector<uint64_t>& addresses,
                                                        const AnalyticsErrorTrackingConfig& config)
{
    if (addresses.empty())
        return std::nullopt;
    const QList<AnalyticsStackFrame> frames = symbolicateAddresses(addresses, config, false);
    if (frames.isEmpty())
        return std::nullopt;
    return rawStacktrace(frames);
}

} // namespace analytics::AnalyticsStackTraceProcessor

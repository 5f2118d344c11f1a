// Feeds arbitrary bytes to the crash report decoder; with the sanitizers on,
// any read past the input or leak of a half-built report is a finding.
#include "crash-reporting/reporter/VXCrashReport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    VXCrashReporterError error;
    if (auto report = VXCrashReport::fromData(bytes, &error)) {
        for (const auto& thread : report->threads())
            (void)thread->stackFrames().size();
        (void)report->imageForAddress(0x1000);
    }
    return 0;
}

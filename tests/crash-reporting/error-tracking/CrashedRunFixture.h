#pragma once

#include "VXCrashReport.pb-c.h"
#include "crash-reporting/reporter/VXCrashReport.h"

#include <QByteArray>

#include <array>
#include <deque>
#include <memory>
#include <vector>

// The report of a crashed run of the program on x86-64 Linux: a main thread
// idling in libc and a crashed second thread whose stack runs through the
// program, libc and an address no image holds. Tests change a field and
// decode it.
class CrashedRunFixture {
public:
    static constexpr uint64_t kProgramBase = 0x555555554000;
    static constexpr uint64_t kLibcBase = 0x7f0000000000;

    CrashedRunFixture()
    {
        vxcrash__crash_report__init(&report);

        vxcrash__crash_report__system_info__init(&system);
        system.os_version = const_cast<char*>("6.1.0");
        system.os_build = const_cast<char*>("Debian 12");
        system.architecture = VXCRASH__ARCHITECTURE__X86_64;
        system.timestamp = 1700000000; // 2023-11-14 22:13:20 UTC
        report.system_info = &system;

        vxcrash__crash_report__processor__init(&cpu);
        cpu.has_encoding = 1;
        cpu.encoding = VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        cpu.type = 0x1000007;
        cpu.subtype = 3;
        vxcrash__crash_report__machine_info__init(&machine);
        machine.model = const_cast<char*>("Standard PC (Q35 + ICH9, 2009)");
        machine.processor = &cpu;
        machine.processor_count = 4;
        machine.logical_processor_count = 8;
        report.machine_info = &machine;

        vxcrash__crash_report__application_info__init(&application);
        application.identifier = const_cast<char*>("app.vellox.desktop");
        application.version = const_cast<char*>("42");
        application.marketing_version = const_cast<char*>("1.2");
        report.application_info = &application;

        vxcrash__crash_report__process_info__init(&process);
        process.process_name = const_cast<char*>("vellox");
        process.process_id = 4242;
        process.process_path = const_cast<char*>("/usr/bin/vellox");
        process.parent_process_name = const_cast<char*>("systemd");
        process.parent_process_id = 1;
        process.native = 1;
        report.process_info = &process;

        vxcrash__crash_report__report_info__init(&info);
        static const uint8_t reportUuid[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
        info.has_uuid = 1;
        info.uuid = {16, const_cast<uint8_t*>(reportUuid)};
        report.report_info = &info;

        vxcrash__crash_report__signal__init(&signal);
        signal.name = const_cast<char*>("SIGSEGV");
        signal.code = const_cast<char*>("SEGV_MAPERR");
        signal.address = 0x10;
        report.signal = &signal;

        // Thread 0 waits in libc; thread 1 crashed in the program.
        addThread(0, false, {frame(kLibcBase + 0x1234)});
        addThread(1, true,
                  {frame(kProgramBase + 0x1150, "_ZN6vellox5crashEv", kProgramBase + 0x1140),
                   frame(kProgramBase + 0x1200), frame(kLibcBase + 0x2000, "__libc_start_main", kLibcBase + 0x1f00),
                   frame(0xdead)});
        for (const char* name : {"rip", "rsp", "rbp", "rax", "rbx"})
            addRegister(name, 0x1000 + registers.size());

        static const uint8_t buildId[20] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                                            0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14};
        static const uint8_t libcUuid[16] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x02, 0x03,
                                             0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b};
        addImage(kLibcBase, 0x1d0000, "/usr/lib/x86_64-linux-gnu/libc.so.6", libcUuid, 16);
        addImage(kProgramBase, 0x3000, "/usr/bin/vellox", buildId, 20);
    }
    CrashedRunFixture(const CrashedRunFixture&) = delete;

    Vxcrash__CrashReport__Thread__StackFrame* frame(uint64_t pc, const char* symbol = nullptr, uint64_t start = 0)
    {
        auto& f = frames_.emplace_back();
        vxcrash__crash_report__thread__stack_frame__init(&f);
        f.pc = pc;
        if (symbol) {
            auto& s = symbols_.emplace_back();
            vxcrash__crash_report__symbol__init(&s);
            s.name = const_cast<char*>(symbol);
            s.start_address = start;
            f.symbol = &s;
        }
        return &f;
    }

    Vxcrash__CrashReport__Thread& addThread(uint32_t number, bool crashed,
                                            std::vector<Vxcrash__CrashReport__Thread__StackFrame*> stack)
    {
        auto& t = threads_.emplace_back();
        vxcrash__crash_report__thread__init(&t);
        t.thread_number = number;
        t.crashed = crashed;
        auto& list = frameLists_.emplace_back(std::move(stack));
        t.n_frames = list.size();
        t.frames = list.data();
        if (crashed)
            crashedThread = &t;
        threadPointers_.push_back(&t);
        report.n_threads = threadPointers_.size();
        report.threads = threadPointers_.data();
        return t;
    }

    void addRegister(const char* name, uint64_t value)
    {
        auto& r = registerValues_.emplace_back();
        vxcrash__crash_report__thread__register_value__init(&r);
        r.name = const_cast<char*>(name);
        r.value = value;
        registers.push_back(&r);
        crashedThread->n_registers = registers.size();
        crashedThread->registers = registers.data();
    }

    Vxcrash__CrashReport__BinaryImage& addImage(uint64_t base, uint64_t size, const char* name,
                                                const uint8_t* uuid = nullptr, size_t uuidLength = 0)
    {
        auto& image = images_.emplace_back();
        vxcrash__crash_report__binary_image__init(&image);
        image.base_address = base;
        image.size = size;
        image.name = const_cast<char*>(name);
        if (uuid) {
            image.has_uuid = 1;
            image.uuid = {uuidLength, const_cast<uint8_t*>(uuid)};
        }
        image.code_type = &cpu;
        imagePointers_.push_back(&image);
        report.n_binary_images = imagePointers_.size();
        report.binary_images = imagePointers_.data();
        return image;
    }

    // An uncaught exception with its own backtrace.
    void addException(const char* name, const char* reason,
                      std::vector<Vxcrash__CrashReport__Thread__StackFrame*> stack)
    {
        vxcrash__crash_report__exception__init(&exception);
        exception.name = const_cast<char*>(name);
        exception.reason = const_cast<char*>(reason);
        auto& list = frameLists_.emplace_back(std::move(stack));
        exception.n_frames = list.size();
        exception.frames = list.data();
        report.exception = &exception;
    }

    QByteArray file() const
    {
        QByteArray bytes(qsizetype(vxcrash__crash_report__get_packed_size(&report)), '\0');
        vxcrash__crash_report__pack(&report, reinterpret_cast<uint8_t*>(bytes.data()));
        return QByteArray("vxcrash\x01", 8) + bytes;
    }

    std::shared_ptr<const VXCrashReport> decoded() const
    {
        VXCrashReporterError error;
        auto decoded = VXCrashReport::fromData(file(), &error);
        if (!decoded)
            qFatal("fixture does not decode: %s", qPrintable(error.localizedDescription));
        return decoded;
    }

    Vxcrash__CrashReport report;
    Vxcrash__CrashReport__SystemInfo system;
    Vxcrash__CrashReport__Processor cpu;
    Vxcrash__CrashReport__MachineInfo machine;
    Vxcrash__CrashReport__ApplicationInfo application;
    Vxcrash__CrashReport__ProcessInfo process;
    Vxcrash__CrashReport__ReportInfo info;
    Vxcrash__CrashReport__Signal signal;
    Vxcrash__CrashReport__Exception exception;
    Vxcrash__CrashReport__Thread* crashedThread = nullptr;
    std::vector<Vxcrash__CrashReport__Thread__RegisterValue*> registers;

private:
    // Deques keep addresses stable as elements are added.
    std::deque<Vxcrash__CrashReport__Thread__StackFrame> frames_;
    std::deque<Vxcrash__CrashReport__Symbol> symbols_;
    std::deque<std::vector<Vxcrash__CrashReport__Thread__StackFrame*>> frameLists_;
    std::deque<Vxcrash__CrashReport__Thread> threads_;
    std::vector<Vxcrash__CrashReport__Thread*> threadPointers_;
    std::deque<Vxcrash__CrashReport__Thread__RegisterValue> registerValues_;
    std::deque<Vxcrash__CrashReport__BinaryImage> images_;
    std::vector<Vxcrash__CrashReport__BinaryImage*> imagePointers_;
};

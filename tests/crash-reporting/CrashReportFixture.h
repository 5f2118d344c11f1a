#pragma once

#include "VXCrashReport.pb-c.h"

#include <QByteArray>

#include <string>
#include <vector>

// A minimal valid report as a mutable message, so a test changes one field
// and encodes it with the file header.
class CrashReportFixture {
public:
    CrashReportFixture()
    {
        vxcrash__crash_report__init(&report);
        vxcrash__crash_report__system_info__init(&system);
        system.os_version = const_cast<char*>("6.1.0");
        system.architecture = VXCRASH__ARCHITECTURE__X86_64;
        system.timestamp = 1700000000;
        report.system_info = &system;
        vxcrash__crash_report__application_info__init(&application);
        application.identifier = const_cast<char*>("app.vellox.desktop");
        application.version = const_cast<char*>("42");
        report.application_info = &application;
        vxcrash__crash_report__signal__init(&signal);
        signal.name = const_cast<char*>("SIGSEGV");
        signal.code = const_cast<char*>("SEGV_MAPERR");
        signal.address = 0x10;
        report.signal = &signal;
        vxcrash__crash_report__thread__init(&thread);
        thread.thread_number = 0;
        thread.crashed = 1;
        threadList[0] = &thread;
        report.n_threads = 1;
        report.threads = threadList;
        vxcrash__crash_report__binary_image__init(&image);
        image.base_address = 0x1000;
        image.size = 0x1000;
        image.name = const_cast<char*>("/usr/bin/vellox");
        imageList[0] = &image;
        report.n_binary_images = 1;
        report.binary_images = imageList;
    }
    CrashReportFixture(const CrashReportFixture&) = delete;

    QByteArray body() const
    {
        QByteArray bytes(qsizetype(vxcrash__crash_report__get_packed_size(&report)), '\0');
        vxcrash__crash_report__pack(&report, reinterpret_cast<uint8_t*>(bytes.data()));
        return bytes;
    }
    QByteArray file() const { return QByteArray("vxcrash\x01", 8) + body(); }

    Vxcrash__CrashReport report;
    Vxcrash__CrashReport__SystemInfo system;
    Vxcrash__CrashReport__ApplicationInfo application;
    Vxcrash__CrashReport__Signal signal;
    Vxcrash__CrashReport__Thread thread;
    Vxcrash__CrashReport__Thread* threadList[1];
    Vxcrash__CrashReport__BinaryImage image;
    Vxcrash__CrashReport__BinaryImage* imageList[1];
};

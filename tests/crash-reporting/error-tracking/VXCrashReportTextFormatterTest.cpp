#include "CrashedRunFixture.h"
#include "crash-reporting/error-tracking/VXCrashReportTextFormatter.h"

#include <gtest/gtest.h>

namespace {

QString format(const CrashedRunFixture& fixture)
{
    return VXCrashReportTextFormatter::stringValueForCrashReport(*fixture.decoded(), VXCrashReportTextFormatiOS);
}

QStringList lines(const QString& text)
{
    return text.split(QLatin1Char('\n'));
}

} // namespace

TEST(VXCrashReportTextFormatter, RendersACrashedRunInTheClassicLayout)
{
    CrashedRunFixture fixture;
    const QString expected = QStringLiteral(
        "Incident Identifier: 00112233-4455-6677-8899-AABBCCDDEEFF\n"
        "Hardware Model:      Standard PC (Q35 + ICH9, 2009)\n"
        "Process:         vellox [4242]\n"
        "Path:            /usr/bin/vellox\n"
        "Identifier:      app.vellox.desktop\n"
        "Version:         1.2 (42)\n"
        "Code Type:       X86-64\n"
        "Parent Process:  systemd [1]\n"
        "\n"
        "Date/Time:       2023-11-14 22:13:20 +0000\n"
        "OS Version:      Unknown (3) 6.1.0 (Debian 12)\n"
        "Report Version:  104\n"
        "\n"
        "Exception Type:  SIGSEGV\n"
        "Exception Codes: SEGV_MAPERR at 0x10\n"
        "Crashed Thread:  1\n"
        "\n"
        "Thread 0:\n"
        "0   libc.so.6                           0x00007f0000001234 0x7f0000000000 + 4660\n"
        "\n"
        "Thread 1 Crashed:\n"
        "0   vellox                              0x0000555555555150 _ZN6vellox5crashEv + 16\n"
        "1   vellox                              0x0000555555555200 0x555555554000 + 4608\n"
        "2   libc.so.6                           0x00007f0000002000 __libc_start_main + 256\n"
        "3   ???                                 0x000000000000dead 0x0 + 0\n"
        "\n"
        "Thread 1 crashed with X86-64 Thread State:\n"
        "   rip: 0x0000000000001000    rsp: 0x0000000000001001    rbp: 0x0000000000001002    rax: 0x0000000000001003 \n"
        "   rbx: 0x0000000000001004 \n"
        "Binary Images:\n"
        "    0x555555554000 -     0x555555556fff +vellox x86_64  <0102030405060708090a0b0c0d0e0f1011121314> /usr/bin/vellox\n"
        "    0x7f0000000000 -     0x7f00001cffff  libc.so.6 x86_64  <deadbeef000102030405060708090a0b> /usr/lib/x86_64-linux-gnu/libc.so.6\n");
    const QString text = format(fixture);
    EXPECT_EQ(text.toStdString(), expected.toStdString());

    // The encoded form is the same text; characters Latin-1 lacks are replaced.
    VXCrashReportTextFormatter formatter(VXCrashReportTextFormatiOS, QStringConverter::Utf8);
    const auto report = fixture.decoded();
    EXPECT_EQ(formatter.formatReport(report.get()).value_or(QByteArray()), expected.toUtf8());
    EXPECT_FALSE(formatter.formatReport(nullptr));
    fixture.machine.model = const_cast<char*>("PC \u2013 Q35");
    VXCrashReportTextFormatter latin1(VXCrashReportTextFormatiOS, QStringConverter::Latin1);
    const QByteArray bytes = latin1.formatReport(fixture.decoded().get()).value_or(QByteArray());
    EXPECT_TRUE(bytes.contains("Hardware Model:      PC ? Q35\n")) << bytes.left(200).constData();
}

TEST(VXCrashReportTextFormatter, UnknownAndEmptyValuesPrintQuestionMarks)
{
    CrashedRunFixture fixture;
    fixture.report.process_info = nullptr;
    fixture.machine.model = const_cast<char*>("");
    fixture.application.marketing_version = nullptr;
    fixture.system.os_build = nullptr;
    fixture.report.report_info = nullptr;
    const QStringList text = lines(format(fixture));
    EXPECT_EQ(text[0], "Incident Identifier: ???");
    EXPECT_EQ(text[1], "Hardware Model:      ???");
    EXPECT_EQ(text[2], "Process:         ??? [???]");
    EXPECT_EQ(text[3], "Path:            ???");
    EXPECT_EQ(text[5], "Version:         42");
    EXPECT_EQ(text[7], "Parent Process:  ??? [???]");
    EXPECT_EQ(text[10], "OS Version:      Unknown (3) 6.1.0 (\?\?\?)");
    // Without a process path no image is marked as the program.
    EXPECT_TRUE(text.contains("    0x555555554000 -     0x555555556fff  vellox x86_64  "
                              "<0102030405060708090a0b0c0d0e0f1011121314> /usr/bin/vellox"));
}

TEST(VXCrashReportTextFormatter, ImageListSortsAndDropsRepeatedBaseAddresses)
{
    CrashedRunFixture fixture;
    fixture.addImage(0x1000, 0, "/opt/empty.so");
    fixture.addImage(CrashedRunFixture::kLibcBase, 0x10, "/tmp/shadow-of-libc.so");
    const QString text = format(fixture);
    const QString images = text.mid(text.indexOf(QStringLiteral("Binary Images:\n")));
    const QStringList rows = lines(images);
    ASSERT_EQ(rows.size(), 5) << images.toStdString(); // title, 3 images, trailing empty
    EXPECT_EQ(rows[1], "            0x1000 -             0x1000  empty.so x86_64  <\?\?\?> /opt/empty.so");
    EXPECT_TRUE(rows[2].contains("+vellox"));
    EXPECT_TRUE(rows[3].contains("/usr/lib/x86_64-linux-gnu/libc.so.6"));
    EXPECT_FALSE(images.contains("shadow-of-libc"));
}

TEST(VXCrashReportTextFormatter, LeadingUnderscoresFollowTheOperatingSystem)
{
    struct Case {
        bool setOs;
        Vxcrash__CrashReport__SystemInfo__OperatingSystem os;
        const char* osName;
        const char* symbol;
    };
    const Case cases[] = {
        {true, VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X, "Mac OS X", "ZN6vellox5crashEv + 16"},
        {true, VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_OS, "iPhone OS", "ZN6vellox5crashEv + 16"},
        {true, VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__APPLE_TVOS, "Apple tvOS", "ZN6vellox5crashEv + 16"},
        {false, {}, "Unknown (3)", "_ZN6vellox5crashEv + 16"},
    };
    for (const Case& c : cases) {
        CrashedRunFixture fixture;
        fixture.system.has_operating_system = c.setOs;
        fixture.system.operating_system = c.os;
        const QString text = format(fixture);
        EXPECT_TRUE(text.contains(QStringLiteral("OS Version:      %1 6.1.0").arg(c.osName))) << c.osName;
        EXPECT_TRUE(text.contains(QStringLiteral("0x0000555555555150 %1\n").arg(c.symbol))) << c.osName;
    }
}

TEST(VXCrashReportTextFormatter, ThirtyTwoBitArmRegistersAndUncaughtException)
{
    CrashedRunFixture fixture;
    fixture.cpu.type = 12;
    fixture.cpu.subtype = 9;
    fixture.crashedThread->n_registers = 0;
    fixture.registers.clear();
    for (const char* name : {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r12"})
        fixture.addRegister(name, 0xab);
    fixture.addException("std::runtime_error", "boom",
                         {fixture.frame(CrashedRunFixture::kProgramBase + 0x1150, "_ZN6vellox5crashEv",
                                        CrashedRunFixture::kProgramBase + 0x1140)});
    const QString text = format(fixture);
    EXPECT_TRUE(text.contains("Code Type:       ARM\n"));
    EXPECT_TRUE(text.contains("Application Specific Information:\n"
                              "*** Terminating app due to uncaught exception 'std::runtime_error', reason: 'boom'\n"
                              "\n"
                              "Last Exception Backtrace:\n"
                              "0   vellox                              0x555555555150 _ZN6vellox5crashEv + 16\n"
                              "\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Thread 1 crashed with ARM Thread State:\n"
                              "    r0: 0x000000ab     r1: 0x000000ab     r2: 0x000000ab     r3: 0x000000ab \n"
                              "    r4: 0x000000ab     r5: 0x000000ab     r6: 0x000000ab     ip: 0x000000ab \n"
                              "Binary Images:\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("0x555555554000 - 0x555555556fff +vellox armv7  <")) << text.toStdString();
}

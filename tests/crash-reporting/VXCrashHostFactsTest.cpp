#include "crash-reporting/reporter/VXCrashHostInfo.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashProcessInfo.h"
#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <sys/utsname.h>
#include <unistd.h>

TEST(VXCrashSysctl, ValidUtf8PrefixStopsBeforeTheFirstBrokenCharacter)
{
    struct Case {
        const char* name;
        const char* text;
        size_t limit;
        size_t expected;
    };
    const Case cases[] = {
        {"ascii", "vellox", SIZE_MAX, 6},
        {"stops at NUL", "ab\0cd", SIZE_MAX, 2},
        {"two-byte character", "a\xC3\xA9", SIZE_MAX, 3},
        {"four-byte character", "\xF0\x9F\x98\x80x", SIZE_MAX, 5},
        {"character cut by the limit", "ab\xE2\x82\xAC", 4, 2},
        {"missing continuation byte", "a\xE2\x82z", SIZE_MAX, 1},
        {"stray continuation byte", "a\x80", SIZE_MAX, 1},
        {"invalid lead byte", "\xF8\x80\x80\x80\x80", SIZE_MAX, 0},
        {"byte-order mark counts", "\xEF\xBB\xBFok", SIZE_MAX, 5},
        {"limit", "abcdef", 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vxcrash_sysctl_valid_utf8_bytes_max(c.text, c.limit), c.expected);
    }
}

TEST(VXCrashSysctl, ReadsKernelValuesByDottedName)
{
    char* release = vxcrash_sysctl_string("kernel.osrelease");
    ASSERT_NE(release, nullptr);
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    EXPECT_STREQ(release, names.release);
    std::free(release);

    int pidMax = 0;
    EXPECT_TRUE(vxcrash_sysctl_int("kernel.pid_max", &pidMax));
    EXPECT_GT(pidMax, 0);
    EXPECT_FALSE(vxcrash_sysctl_int("kernel.osrelease", &pidMax));
    EXPECT_EQ(vxcrash_sysctl_string("kernel.no_such_value"), nullptr);
}

TEST(VXCrashHostInfo, ParsesTheKernelRelease)
{
    struct Case {
        const char* release;
        unsigned major, minor, revision;
    };
    const Case cases[] = {
        {"23.1.0", 23, 1, 0},
        {"6.1.0-18-amd64", 6, 1, 0},
        {"6.8", 6, 8, 0}, // keeps what matched
        {"garbage", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        const auto version = VXCrashHostInfo::fromRelease(c.release).darwinVersion;
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
        EXPECT_EQ(version.revision, c.revision);
    }
    EXPECT_TRUE(VXCrashHostInfo::currentHostInfo().has_value());
}

TEST(VXCrashProcessInfo, DescribesThisProcessAndItsParent)
{
    const auto self = VXCrashProcessInfo::currentProcessInfo();
    ASSERT_TRUE(self);
    EXPECT_EQ(self->processID, getpid());
    EXPECT_EQ(self->parentProcessID, getppid());
    ASSERT_TRUE(self->processName);
    EXPECT_EQ(self->processName->substr(0, 8), std::string(program_invocation_short_name).substr(0, 8));
    const int64_t now = time(nullptr);
    EXPECT_LE(self->startTime.seconds, now + 1);
    EXPECT_GT(self->startTime.seconds, now - 3600);
    EXPECT_FALSE(VXCrashProcessInfo::withProcessID(-5).has_value());
}

TEST(VXCrashWriterFacts, ComeFromProcAndUname)
{
    const vxcrash_writer_facts facts = vxcrash_writer_facts::current();
    ASSERT_TRUE(facts.has_process);
    EXPECT_EQ(facts.pid, getpid());
    char path[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", path, sizeof path - 1), 0);
    EXPECT_EQ(facts.process_path, path);
    EXPECT_EQ(facts.parent_pid, getppid());
    EXPECT_EQ(facts.logical_processor_count, uint32_t(sysconf(_SC_NPROCESSORS_CONF)));
    EXPECT_GE(facts.logical_processor_count, facts.processor_count);
    EXPECT_GT(facts.processor_count, 0u);
#if defined(__x86_64__)
    EXPECT_EQ(facts.cpu_type, 0x1000007u);
#endif
    EXPECT_FALSE(facts.os_version.empty());
    EXPECT_EQ(facts.uuid[6] >> 4, 4); // a version 4 UUID
}

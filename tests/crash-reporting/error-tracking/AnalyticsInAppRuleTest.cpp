#include "crash-reporting/error-tracking/AnalyticsBinaryImageInfo.h"
#include "crash-reporting/error-tracking/AnalyticsInAppRule.h"
#include "crash-reporting/error-tracking/AnalyticsStackFrame.h"

#include <gtest/gtest.h>

using namespace analytics;

TEST(AnalyticsInAppRule, CrashAndLiveFramesFromTheSystemLibrariesAreNeverInApp)
{
    struct Case {
        const char* path; // image path; null: no image
        QStringList includes;
        QStringList excludes;
        bool byDefault;
        bool inApp;
    };
    const Case cases[] = {
        {"/usr/bin/vellox", {"vellox"}, {}, true, true},
        {"/opt/vellox/libhelper.so", {"vellox"}, {}, true, true}, // nothing decides: the default
        {"/opt/vellox/libhelper.so", {"vellox"}, {}, false, false},
        {"/lib/x86_64-linux-gnu/libc.so.6", {"vellox"}, {}, true, false},
        {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6", {"vellox"}, {}, true, false},
        {"/lib64/ld-linux-x86-64.so.2", {"vellox"}, {}, true, false},
        {"/usr/lib32/libc.so.6", {"vellox"}, {}, true, false},
        {"/usr/local/lib/libextra.so", {"vellox"}, {}, true, true},
        // An include decides before any system rule.
        {"/usr/lib/x86_64-linux-gnu/libc.so.6", {"libc"}, {}, true, true},
        {"/usr/lib/x86_64-linux-gnu/libc.so.6", {""}, {}, false, true},
        {"/opt/Foundation", {"Foundation"}, {}, true, true},
        {"/opt/Foundation", {"vellox"}, {}, true, false},
        {"/opt/vellox/libhelper.so", {"vellox"}, {"libhelper"}, true, false},
        {"/opt/vellox/libhelper.so", {"libhelper"}, {"libhelper"}, true, true},
        {"/usr/bin/vellox", {"Vellox"}, {}, false, false}, // case matters
    };
    for (const Case& c : cases) {
        AnalyticsErrorTrackingConfig config;
        config.setInAppIncludes(c.includes);
        config.setInAppExcludes(c.excludes);
        config.setInAppByDefault(c.byDefault);
        const QString path = QString::fromUtf8(c.path);
        const QString module = path.section(QLatin1Char('/'), -1);
        EXPECT_EQ(inapp::crashFrame(config, module, path), c.inApp) << c.path;
        EXPECT_EQ(inapp::liveFrame(config, path), c.inApp) << c.path;
    }
    // No image: never in-app, whatever the default.
    AnalyticsErrorTrackingConfig config;
    config.setInAppIncludes({QString()});
    EXPECT_FALSE(inapp::crashFrame(config, std::nullopt, QString()));
    EXPECT_FALSE(inapp::liveFrame(config, QString()));
}

TEST(AnalyticsEventValues, AddressesUuidsAndAbsentKeys)
{
    EXPECT_EQ(formatEventAddress(0), "0x0000000000000000");
    EXPECT_EQ(formatEventAddress(0xABCDEF), "0x0000000000abcdef");
    EXPECT_EQ(formatEventAddress(~0ULL), "0xffffffffffffffff");

    EXPECT_EQ(formattedAsUUID("deadbeef-0001-0203-0405-060708090a0b"), "DEADBEEF-0001-0203-0405-060708090A0B");
    EXPECT_EQ(formattedAsUUID("deadbeef000102030405060708090a0b"), "DEADBEEF-0001-0203-0405-060708090A0B");
    EXPECT_EQ(formattedAsUUID("deadbeef-0001-0203-0405-060708090a0"), "deadbeef-0001-0203-0405-060708090a0");
    EXPECT_EQ(formattedAsUUID("0102030405060708090a0b0c0d0e0f1011121314"), "0102030405060708090a0b0c0d0e0f1011121314");

    AnalyticsStackFrame bare;
    bare.instructionAddress = 0x10;
    EXPECT_EQ(bare.toDictionary(), (QVariantMap{{"instruction_addr", "0x0000000000000010"},
                                                {"platform", "apple"},
                                                {"in_app", false}}));

    AnalyticsBinaryImageInfo image;
    image.name = "/usr/bin/vellox";
    image.address = 0x1000;
    image.size = 42;
    image.vmAddress = 0;
    QVariantMap dictionary = image.toDictionary();
    EXPECT_FALSE(dictionary.contains("image_vmaddr")); // 0 is left out
    EXPECT_FALSE(dictionary.contains("debug_id"));
    EXPECT_FALSE(dictionary.contains("arch"));
    image.vmAddress = 0x400000;
    EXPECT_EQ(image.toDictionary().value("image_vmaddr"), "0x0000000000400000");
}

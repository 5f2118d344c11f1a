#include "analytics/TimeBasedEpochGenerator.h"

#include "analytics/AnalyticsEvent.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

using analytics::TimeBasedEpochGenerator;
using analytics::uuidText;

namespace {

// A generator with a hand-set clock and entropy that hands out the given
// byte patterns in turn.
struct Scripted {
    std::int64_t now = 0x0190A1B2C3D4;
    std::vector<std::array<std::uint8_t, 10>> seeds;
    size_t next = 0;
    TimeBasedEpochGenerator generator{[this] { return now; },
                                      [this](std::uint8_t* out, std::size_t n) {
                                          std::memcpy(out, seeds.at(next++ % seeds.size()).data(), n);
                                          return true;
                                      }};
};

} // namespace

TEST(TimeBasedEpochGeneratorTest, ExactBytes)
{
    struct Case {
        const char* name;
        std::int64_t firstMs;
        std::int64_t secondMs;
        std::array<std::uint8_t, 10> seed;
        const char* first;
        const char* second;
    };
    const Case cases[] = {
        {"same millisecond counts up by one", 0x0190A1B2C3D4, 0x0190A1B2C3D4,
         {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07},
         "0190A1B2-C3D4-7FFF-BF00-000000000007", "0190A1B2-C3D4-7FFF-BF00-000000000008"},
        {"carry stays inside the counting bits", 0x0190A1B2C3D4, 0x0190A1B2C3D4,
         {0x01, 0x23, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "0190A1B2-C3D4-7123-BFFF-FFFFFFFFFFFF", "0190A1B2-C3D4-7124-8000-000000000000"},
        {"next millisecond reseeds", 0x0190A1B2C3D4, 0x0190A1B2C3D5,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
         "0190A1B2-C3D4-7000-8000-000000000001", "0190A1B2-C3D5-7000-8000-000000000001"},
        {"clock going back keeps counting on the last time", 0x0190A1B2C3D4, 0x0190A1B2C000,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
         "0190A1B2-C3D4-7000-8000-000000000001", "0190A1B2-C3D4-7000-8000-000000000002"},
        {"exhausted counter borrows the next millisecond instead of wrapping", 0x0190A1B2C3D4, 0x0190A1B2C3D4,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "0190A1B2-C3D4-7FFF-BFFF-FFFFFFFFFFFF", "0190A1B2-C3D5-7FFF-BFFF-FFFFFFFFFFFF"},
        {"time before 1970 counts as 1970", -5000, -4000, {0, 0, 0, 0, 0, 0, 0, 0, 0, 9},
         "00000000-0000-7000-8000-000000000009", "00000000-0000-7000-8000-00000000000A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s;
        s.seeds = {c.seed};
        s.now = c.firstMs;
        const QUuid a = s.generator.v7();
        s.now = c.secondMs;
        const QUuid b = s.generator.v7();
        EXPECT_EQ(uuidText(a), c.first);
        EXPECT_EQ(uuidText(b), c.second);
        EXPECT_LT(uuidText(a), uuidText(b));
    }
}

TEST(TimeBasedEpochGeneratorTest, FailingEntropyStillGivesValidIds)
{
    TimeBasedEpochGenerator generator([] { return std::int64_t(1); }, [](std::uint8_t*, std::size_t) { return false; });
    const QUuid id = generator.v7();
    EXPECT_EQ((id.data3 >> 12), 7);
    EXPECT_EQ(id.variant(), QUuid::DCE);
    EXPECT_TRUE(uuidText(id).startsWith("00000000-0001-7"));
}

TEST(TimeBasedEpochGeneratorTest, IdsFromManyThreadsAreUniqueAndIncreasingPerThread)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 5000;
    std::vector<std::vector<QString>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                made[t].push_back(uuidText(TimeBasedEpochGenerator::shared().v7()));
        });
    for (auto& thread : threads)
        thread.join();
    QSet<QString> all;
    for (const auto& ids : made) {
        for (size_t i = 1; i < ids.size(); ++i)
            ASSERT_LT(ids[i - 1], ids[i]);
        for (const auto& id : ids)
            all.insert(id);
    }
    EXPECT_EQ(all.size(), kThreads * kPerThread);
}

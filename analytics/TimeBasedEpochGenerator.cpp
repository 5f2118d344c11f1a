#include "TimeBasedEpochGenerator.h"

#include <chrono>
#include <random>
#include <sys/random.h>

namespace analytics {

namespace {

constexpr std::uint64_t kRandAMask = 0xFFF;
constexpr std::uint64_t kRandBMask = (std::uint64_t(1) << 62) - 1;

std::int64_t systemMillis()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool secureRandom(std::uint8_t* bytes, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::getrandom(bytes + done, count - done, 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

TimeBasedEpochGenerator::TimeBasedEpochGenerator()
    : TimeBasedEpochGenerator(systemMillis, secureRandom)
{
}

TimeBasedEpochGenerator::TimeBasedEpochGenerator(Clock clock, Entropy entropy)
    : clock_(std::move(clock))
    , entropy_(std::move(entropy))
{
}

TimeBasedEpochGenerator& TimeBasedEpochGenerator::shared()
{
    // Never destroyed: capturing threads may still take ids during exit.
    static TimeBasedEpochGenerator* const generator = new TimeBasedEpochGenerator;
    return *generator;
}

void TimeBasedEpochGenerator::reseed()
{
    std::array<std::uint8_t, 10> bytes{};
    if (!entropy_ || !entropy_(bytes.data(), bytes.size())) {
        static thread_local std::mt19937_64 fallback{std::random_device{}()};
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(fallback());
    }
    // The ten bytes sit where they will in the UUID (bytes 6 to 15); the
    // version nibble and the variant bits are not ours to count with.
    randA_ = (std::uint64_t(bytes[0] & 0x0F) << 8) | bytes[1];
    std::uint64_t b = bytes[2] & 0x3F;
    for (int i = 3; i < 10; ++i)
        b = (b << 8) | bytes[i];
    randB_ = b;
}

QUuid TimeBasedEpochGenerator::v7()
{
    QMutexLocker locker(&lock_);
    const std::int64_t raw = clock_ ? clock_() : systemMillis();
    std::uint64_t now = raw < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(raw), kMaxTimestamp);

    if (!started_ || now > lastTimestamp_) {
        started_ = true;
        lastTimestamp_ = now;
        reseed();
    } else {
        // Same millisecond, or a clock that went back: count on from the last id.
        if (randB_ < kRandBMask) {
            ++randB_;
        } else if (randA_ < kRandAMask) {
            randB_ = 0;
            ++randA_;
        } else {
            // Counter exhausted: borrow the next millisecond.
            if (lastTimestamp_ < kMaxTimestamp)
                ++lastTimestamp_;
            reseed();
        }
    }

    std::array<std::uint8_t, 16> u{};
    for (int i = 0; i < 6; ++i)
        u[static_cast<size_t>(i)] = static_cast<std::uint8_t>(lastTimestamp_ >> (8 * (5 - i)));
    u[6] = static_cast<std::uint8_t>(0x70 | ((randA_ >> 8) & 0x0F));
    u[7] = static_cast<std::uint8_t>(randA_);
    u[8] = static_cast<std::uint8_t>(0x80 | ((randB_ >> 56) & 0x3F));
    for (int i = 9; i < 16; ++i)
        u[static_cast<size_t>(i)] = static_cast<std::uint8_t>(randB_ >> (8 * (15 - i)));
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(u.data()), 16));
}

} // namespace analytics

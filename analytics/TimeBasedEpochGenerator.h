#pragma once

#include <QMutex>
#include <QUuid>

#include <array>
#include <cstdint>
#include <functional>

namespace analytics {

// Makes version-7 UUIDs: 48 bits of Unix milliseconds, then 74 bits that
// start from random within each millisecond and count upward, so that ids
// made by any thread of the process are unique and strictly increasing.
//
// The counter lives in the 74 bits the UUID shows (the version and variant
// bits are not part of it), so every step is visible in the id. When it would
// run out within a millisecond, and when the clock goes back, the generator
// keeps counting on the last timestamp it used (RFC 9562, 6.2, method 2 with
// a timestamp advance on overflow) rather than going back or wrapping.
class TimeBasedEpochGenerator {
public:
    // Milliseconds since 1970; may be negative for a clock set before 1970.
    using Clock = std::function<std::int64_t()>;
    // Fills the buffer with secure random bytes; false when it cannot.
    using Entropy = std::function<bool(std::uint8_t* bytes, std::size_t count)>;

    TimeBasedEpochGenerator();
    TimeBasedEpochGenerator(Clock clock, Entropy entropy);

    // The process-wide generator every id of the client comes from.
    static TimeBasedEpochGenerator& shared();

    QUuid v7();

private:
    static constexpr std::uint64_t kMaxTimestamp = (std::uint64_t(1) << 48) - 1;

    void reseed();

    Clock clock_;
    Entropy entropy_;
    QMutex lock_;
    std::uint64_t lastTimestamp_ = 0;
    bool started_ = false;
    // The 74 counting bits: 12 in rand_a, 62 in rand_b.
    std::uint64_t randA_ = 0;
    std::uint64_t randB_ = 0;
};

} // namespace analytics

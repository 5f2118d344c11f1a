#pragma once

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <cstdint>

enum class AccessibilityPermissionStatus { checking, granted, denied };

// The application's view of whether it may drive other applications with
// synthesised keys. The trust query runs off the main thread; everything else
// here runs on it. Every assignment of the status is announced.
class AppReadinessState final : public QObject {
    Q_OBJECT

public:
    static AppReadinessState& shared();

    // How long openAccessibilitySettingsAndWatch() watches for the grant, and
    // how often it asks.
    static constexpr double kWatchSeconds = 15;
    static constexpr std::uint64_t kWatchIntervalNanoseconds = 500'000'000;

    AccessibilityPermissionStatus permissionStatus() const { return permissionStatus_; }

    // Queries trust on a pool thread and stores the answer; completes once it
    // is stored. Overlapping refreshes each store their own answer.
    QCoro::Task<void> refreshPermissionStatusAsync();
    // Starts a refresh and returns at once.
    void schedulePermissionRefresh();
    // Offers the system's grant prompt, opens the accessibility settings and
    // watches for the grant.
    void openAccessibilitySettingsAndWatch();
    // Asks every `intervalNanoseconds` until the permission is granted or
    // `durationSeconds` have passed. Replaces a running watch.
    void startPolling(double durationSeconds, std::uint64_t intervalNanoseconds);
    bool isPolling() const { return pollGeneration_ == runningPoll_; }

signals:
    void permissionStatusChanged(AccessibilityPermissionStatus status);
    // A new watch interrupts the sleep of the one it replaces.
    void pollCancelled();

private:
    AppReadinessState() = default;

    QCoro::Task<void> poll(std::uint64_t generation, double durationSeconds, std::chrono::milliseconds interval);
    void applyTrustQueryResult(bool trusted);

    AccessibilityPermissionStatus permissionStatus_ = AccessibilityPermissionStatus::checking;
    std::uint64_t pollGeneration_ = 0;
    std::uint64_t runningPoll_ = std::uint64_t(-1);
};

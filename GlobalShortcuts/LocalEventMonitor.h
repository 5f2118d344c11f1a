#pragma once

#include <QEvent>
#include <QObject>
#include <QSet>

#include <functional>

namespace GlobalShortcuts {

// Sees the application's own events of the given types before any widget
// does, for as long as it is started and alive. The callback answers true to
// swallow an event, false to let it go on unchanged.
class LocalEventMonitor : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<bool(QObject* receiver, QEvent* event)>;

    LocalEventMonitor(QSet<QEvent::Type> events, Callback callback, QObject* parent = nullptr);
    ~LocalEventMonitor() override;

    // Answers the monitor itself, so it can be made, started and kept in one go.
    LocalEventMonitor& start();
    void stop();
    bool isActive() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<QEvent::Type> events_;
    Callback callback_;
    bool active_ = false;
};

} // namespace GlobalShortcuts

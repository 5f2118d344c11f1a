#pragma once

#include <QObject>

// Whether a provider call is under way, for the status icon and the popover.
// Main thread only; every assignment is announced, also an equal one.
class RewriteChromeState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase WRITE setPhase NOTIFY phaseChanged)

public:
    enum class Phase { idle, working };
    Q_ENUM(Phase)

    static RewriteChromeState& shared();

    Phase phase() const { return phase_; }
    void setPhase(Phase phase);

signals:
    void phaseChanged(RewriteChromeState::Phase phase);

private:
    RewriteChromeState() = default;

    Phase phase_ = Phase::idle;
};

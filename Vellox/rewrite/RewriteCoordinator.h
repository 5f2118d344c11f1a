#pragma once

#include "Vellox/rewrite/RewriteFeedbackMessage.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <exception>
#include <optional>

// Runs one rewrite at a time, from the global shortcut or from the Services
// road, and reports every outcome through the shared state, the notice, the
// log file and analytics. Main thread only.
class RewriteCoordinator final : public QObject {
    Q_OBJECT

public:
    enum class Trigger { globalHotkey };

    // The Services request's text in and out. `text` holds the answer after a
    // successful rewrite and is left as it came otherwise.
    struct ServicesPasteboard {
        std::optional<QString> text;
    };
    // How a Services request ended, for the caller's reply.
    struct ServicesOutcome {
        // The recorded failure (or the empty answer), when there was one.
        std::optional<RewriteFeedbackMessage> failure;
    };

    static RewriteCoordinator& shared();

    // The shortcut road: copy the selection, choose the mode, ask the
    // provider, paste. Never throws.
    QCoro::Task<void> rephraseSelection(Trigger trigger);

    // The Services road: rewrites `pasteboard.text` with the default tone.
    // Counting the success and setting the last error happen in a queued
    // call after this completes. Never throws.
    QCoro::Task<ServicesOutcome> rephrasePasteboard(std::shared_ptr<ServicesPasteboard> pasteboard);

    bool isBusy() const { return isBusy_; }

    // The message and the log code of any failure the roads catch.
    static RewriteFeedbackMessage mapRewriteError(const std::exception_ptr& error);
    static QString logCode(const std::exception_ptr& error);

    // Whether the process-wide gate is held by a running rewrite.
    static bool gateIsHeld();

private:
    RewriteCoordinator() = default;

    bool isBusy_ = false;
};

#pragma once

#include "Vellox/rewrite/RewriteSurfaces.h"

#include <coroutine>
#include <utility>

#include <QTimer>
#include <QStringList>

// Panels that answer from a script and record what the road asked of them.
class ScriptedSurfaces final : public RewriteSurfaces {
public:

    struct Notice {
        RewriteFeedbackMessage message;
        double seconds;
    };

    QCoro::Task<std::optional<TonePickerChoice>> askTone(QList<TonePreset> presets, bool includeDescribeEdit) override
    {
        calls.append(QStringLiteral("askTone"));
        offeredPresets = presets;
        offeredDescribeEdit = includeDescribeEdit;
        if (holdPanels)
            co_await Held{this};
        co_return toneAnswer;
    }
    QCoro::Task<std::optional<QString>> askInstruction() override
    {
        calls.append(QStringLiteral("askInstruction"));
        if (holdPanels)
            co_await Held{this};
        co_return instructionAnswer;
    }
    void showSpinner() override { calls.append(QStringLiteral("showSpinner")); }
    void hideSpinner() override { calls.append(QStringLiteral("hideSpinner")); }
    void presentNotice(const RewriteFeedbackMessage& message, double seconds) override
    {
        calls.append(QStringLiteral("notice"));
        notices.append({message, seconds});
    }
    void closeSettingsWindowIfOpen() override { calls.append(QStringLiteral("closeSettings")); }
    void closeMenuPopoverIfOpen() override { calls.append(QStringLiteral("closeMenuPopover")); }

    std::optional<TonePickerChoice> toneAnswer;
    std::optional<QString> instructionAnswer;
    bool holdPanels = false;

    QStringList calls;
    QList<Notice> notices;
    QList<TonePreset> offeredPresets;
    bool offeredDescribeEdit = false;

    // Lets the held panels answer, from the event loop as real panels do.
    void release()
    {
        const auto waiting = std::exchange(held_, {});
        for (auto handle : waiting)
            QTimer::singleShot(0, [handle] { handle.resume(); });
    }

private:
    struct Held {
        ScriptedSurfaces* surfaces;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) const { surfaces->held_.append(handle); }
        void await_resume() const noexcept {}
    };

    QList<std::coroutine_handle<>> held_;
};

// Installs the scripted panels for its lifetime.
class ScopedSurfaces {
public:
    ScopedSurfaces() { RewriteSurfaces::install(&surfaces); }
    ~ScopedSurfaces() { RewriteSurfaces::install(nullptr); }
    ScriptedSurfaces surfaces;
};

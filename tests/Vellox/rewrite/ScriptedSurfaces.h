#pragma once

#include "Vellox/rewrite/RewriteSurfaces.h"

#include <QCoroSignal>
#include <QTimer>
#include <QStringList>

// Panels that answer from a script and record what the road asked of them.
class ScriptedSurfaces final : public RewriteSurfaces {
public:
    ScriptedSurfaces() { releaseTimer_.setSingleShot(true); }

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
            co_await qCoro(&releaseTimer_, &QTimer::timeout);
        co_return toneAnswer;
    }
    QCoro::Task<std::optional<QString>> askInstruction() override
    {
        calls.append(QStringLiteral("askInstruction"));
        if (holdPanels)
            co_await qCoro(&releaseTimer_, &QTimer::timeout);
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

    // Lets a held panel answer.
    void release() { releaseTimer_.start(0); }

private:
    QTimer releaseTimer_;
};

// Installs the scripted panels for its lifetime.
class ScopedSurfaces {
public:
    ScopedSurfaces() { RewriteSurfaces::install(&surfaces); }
    ~ScopedSurfaces() { RewriteSurfaces::install(nullptr); }
    ScriptedSurfaces surfaces;
};

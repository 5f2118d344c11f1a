#pragma once

#include "RewriteTestSupport.h"
#include "ScriptedSurfaces.h"
#include "support/LoopbackHttpServer.h"
#include "support/RecordingAnalyticsClient.h"
#include "support/TempHome.h"

#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteCoordinator.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/settings/KeychainStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLogStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

inline void PrintTo(const RewriteFeedbackMessage& m, std::ostream* os)
{
    *os << "{" << m.text.toStdString() << ", level " << int(m.level) << ", action "
        << (m.action ? int(*m.action) : -1) << "}";
}

namespace rewrite_test {

inline QByteArray openAIAnswer(const QString& content)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("choices"),
                                      QJsonArray{QJsonObject{{QStringLiteral("message"),
                                                              QJsonObject{{QStringLiteral("content"), content}}}}}}})
        .toJson();
}

// The engine with fakes all round, the scripted panels, recording analytics,
// a temporary home for the log file and a loopback OpenAI-compatible server.
// The fake front application copies `selection` when it receives the copy
// chord and notes what the clipboard holds when it receives the paste chord.
class RoadHarness {
public:
    using Chord = platform::KeySynthesizer::Chord;

    RoadHarness()
    {
        PreferencesStore::resetSharedForTesting();
        RewriteUsageStore::resetSharedForTesting();
        KeychainStore::setApiKey(QStringLiteral("sk-test"), ProviderId::openaiCompatible);
        analytics.switchOn();
        AppSettings settings;
        settings.apiBaseURL = server.baseUrl() + QStringLiteral("/v1");
        PreferencesStore::shared().setSettings(settings);
        RewriteFeedbackState::shared().setLastError(std::nullopt);
        fakes.pasteboard().putTextFromOtherClient(QStringLiteral("earlier clipboard"));
        fakes.keys().onPost = [this](Chord chord) {
            if (chord == Chord::copy && selection)
                fakes.pasteboard().putTextFromOtherClient(*selection);
            if (chord == Chord::paste)
                pasted.append(fakes.pasteboard().text().value_or(QStringLiteral("<no text>")));
        };
    }
    ~RoadHarness()
    {
        VelloxLogStore::waitForPendingWrites();
        PreferencesStore::resetSharedForTesting();
        RewriteUsageStore::resetSharedForTesting();
        RewriteFeedbackState::shared().setLastError(std::nullopt);
    }

    void changeSettings(const std::function<void(AppSettings&)>& change)
    {
        AppSettings settings = PreferencesStore::shared().settings();
        change(settings);
        PreferencesStore::shared().setSettings(settings);
    }

    void answer(const QString& content) { server.enqueue(LoopbackHttpServer::Reply::json(openAIAnswer(content))); }

    OutcomeOf<void> runRoad()
    {
        return run(RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey));
    }

    QStringList logLines()
    {
        VelloxLogStore::waitForPendingWrites();
        QFile file(VelloxLogStore::fileURL().toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // "event" or "event:code", with trigger and provider checked on the way;
    // sorted, since each event leaves from a pool thread of its own.
    QStringList events(const char* trigger = "hotkey")
    {
        QStringList out;
        for (const auto& capture : analytics.sent()) {
            if (!capture.event.startsWith(QLatin1String("rewrite_")))
                continue;
            const QVariantMap properties = capture.properties.value_or(QVariantMap());
            EXPECT_EQ(properties.value(QStringLiteral("trigger")).toString(), QString::fromLatin1(trigger));
            EXPECT_EQ(properties.value(QStringLiteral("provider")).toString(), PreferencesStore::shared().settings().provider.rawValue());
            const QString code = properties.value(QStringLiteral("code")).toString();
            out.append(code.isEmpty() ? capture.event : capture.event + QLatin1Char(':') + code);
        }
        out.sort();
        return out;
    }

    QStringList systemLog() { return fakes.log().messages(); }

    QJsonObject lastRequestBody() { return QJsonDocument::fromJson(server.requests().last().body).object(); }
    QString lastMessage(int index)
    {
        return lastRequestBody().value("messages").toArray().at(index).toObject().value("content").toString();
    }
    QString lastUserText() { return lastMessage(1); }
    QString lastSystemText() { return lastMessage(0); }

    void expectRunEndedCleanly()
    {
        EXPECT_FALSE(RewriteCoordinator::shared().isBusy());
        EXPECT_EQ(RewriteChromeState::shared().phase(), RewriteChromeState::Phase::idle);
        EXPECT_FALSE(RewriteCoordinator::gateIsHeld());
    }

    // Members in construction order; the home outlives the log writes.
    TempHome home;
    platform::PlatformGuard guard;
    Fakes fakes;
    RecordingAnalytics analytics;
    ScopedSurfaces scoped;
    ScriptedSurfaces& surfaces = scoped.surfaces;
    LoopbackHttpServer server;
    std::optional<QString> selection;
    QStringList pasted;
};

class RoadTest : public ::testing::Test, public RoadHarness {};

} // namespace rewrite_test

#include "RewriteRoadTestSupport.h"

#include "Vellox/rewrite/TransformPromptBuilder.h"

using Action = RewriteFeedbackAction;
using Level = RewriteFeedbackMessage::Level;
using Reply = LoopbackHttpServer::Reply;

namespace {

const RewriteFeedbackMessage kEarlierFailure{QStringLiteral("an earlier failure"), Level::error, std::nullopt};

RewriteFeedbackMessage error(const char* text, std::optional<Action> action = std::nullopt)
{
    return {QString::fromUtf8(text), Level::error, action};
}

using RewriteRoadTest = rewrite_test::RoadTest;
using rewrite_test::RoadHarness;

} // namespace

// One row per way a run can end: what the user sees, what the log file and
// analytics receive, and what the clipboard holds afterwards.
TEST(RewriteRoadOutcomeTest, EveryOutcomeReportsItselfOnce)
{
    struct Case {
        const char* name;
        std::function<void(RoadHarness&)> arrange;
        std::optional<RewriteFeedbackMessage> lastError;
        QString notice;
        QString logCode;
        QStringList events;
        QString clipboardAfter;
    };
    const QString earlier = QStringLiteral("earlier clipboard");
    const Case cases[] = {
        {"rewriting paused", [](RoadHarness& t) { t.changeSettings([](AppSettings& s) { s.enabled = false; }); },
         kEarlierFailure, QStringLiteral("Vellox is paused."), {}, {}, earlier},
        {"permission not granted", [](RoadHarness& t) { t.fakes.trust().trusted = false; },
         error("Vellox needs Accessibility permission.", Action::openAccessibilitySettings), {},
         QStringLiteral("permission_denied"), {}, earlier},
        {"selection unreadable, not trusted at the keystroke",
         [](RoadHarness& t) { t.fakes.keys().copyResult = platform::KeySynthesizer::Result::unavailable; },
         error("Turn on Accessibility for Vellox, then try again.", Action::openAccessibilitySettings), {},
         QStringLiteral("permission_denied"), {}, earlier},
        {"selection unreadable, other error",
         [](RoadHarness& t) { t.fakes.keys().copyResult = platform::KeySynthesizer::Result::eventCreationFailed; },
         error("Couldn\u2019t read the selection."), {}, QStringLiteral("selection_read_failed"), {}, earlier},
        {"selection of blanks", [](RoadHarness& t) { t.selection = QStringLiteral("  \n\t "); }, kEarlierFailure,
         QStringLiteral("Select text first, then press the shortcut."), {}, {}, earlier},
        {"nothing copied: the clipboard keeps a password", [](RoadHarness& t) {
             t.selection.reset();
             t.fakes.pasteboard().putTextFromOtherClient(QStringLiteral("hunter2"));
         },
         kEarlierFailure, QStringLiteral("Select text first, then press the shortcut."), {}, {}, QStringLiteral("hunter2")},
        {"tone picker cancelled", [](RoadHarness& t) { t.changeSettings([](AppSettings& s) { s.askToneEachTime = true; }); },
         kEarlierFailure, {}, {}, {}, earlier},
        {"instruction cancelled", [](RoadHarness& t) { t.changeSettings([](AppSettings& s) { s.askAICommandEachTime = true; }); },
         kEarlierFailure, {}, {}, {}, earlier},
        {"instruction blank", [](RoadHarness& t) {
             t.changeSettings([](AppSettings& s) { s.askAICommandEachTime = true; });
             t.surfaces.instructionAnswer = QStringLiteral(" \n ");
         },
         kEarlierFailure, {}, {}, {}, earlier},
        {"provider error 429", [](RoadHarness& t) { t.server.enqueue(Reply::json(R"({"error":"rate"})", 429)); },
         error("Request failed (429)."), {}, QStringLiteral("http_429"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:http_429")}, earlier},
        {"missing key", [](RoadHarness&) { KeychainStore::deleteApiKey(ProviderId::openaiCompatible); },
         error("Add an API key in Settings.", Action::openSettings), {}, QStringLiteral("missing_api_key"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:missing_api_key")}, earlier},
        {"transport failure", [](RoadHarness& t) { t.server.enqueue(Reply::closeWithoutAnswer()); },
         error("Rewrite failed. Check your connection and API key in Settings.", Action::openSettings), {},
         QStringLiteral("unknown_error"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:unknown_error")}, earlier},
        {"unusable base URL", [](RoadHarness& t) { t.changeSettings([](AppSettings& s) { s.apiBaseURL = QStringLiteral("not a url"); }); },
         error("Check the API base URL in Settings.", Action::openSettings), {}, QStringLiteral("unknown_error"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:unknown_error")}, earlier},
        {"blank answer", [](RoadHarness& t) { t.server.enqueue(Reply::json(R"({"choices":[{"message":{"content":" \n"}}]})")); },
         error("No text came back."), {}, QStringLiteral("empty_content"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:empty_content")}, earlier},
        {"paste failed: the answer stays on the clipboard", [](RoadHarness& t) {
             t.answer(QStringLiteral("Better text."));
             t.fakes.keys().pasteResult = platform::KeySynthesizer::Result::eventCreationFailed;
         },
         error("New text is on the clipboard \u2014 paste to finish."), {}, QStringLiteral("paste_failed"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:paste_failed")}, QStringLiteral("Better text.")},
        {"another window focused by the time the answer came: nothing pasted", [](RoadHarness& t) {
             t.answer(QStringLiteral("Better text."));
             t.fakes.keys().onPost = [&t](platform::KeySynthesizer::Chord chord) {
                 if (chord == platform::KeySynthesizer::Chord::copy)
                     t.fakes.pasteboard().putTextFromOtherClient(*t.selection);
                 t.fakes.workspace().front->window = 0xa00007;
                 if (chord == platform::KeySynthesizer::Chord::paste)
                     t.pasted.append(QStringLiteral("pasted into the wrong window"));
             };
         },
         error("New text is on the clipboard \u2014 paste to finish."), {}, QStringLiteral("paste_failed"),
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_failed:paste_failed")}, QStringLiteral("Better text.")},
        {"success", [](RoadHarness& t) { t.answer(QStringLiteral("Better text.")); }, std::nullopt, {}, {},
         {QStringLiteral("rewrite_triggered"), QStringLiteral("rewrite_success")}, earlier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoadHarness t;
        t.selection = QStringLiteral("  some words  ");
        RewriteFeedbackState::shared().setLastError(kEarlierFailure);
        c.arrange(t);
        const int requestsBefore = int(t.server.requests().size());

        ASSERT_TRUE(t.runRoad().done);

        EXPECT_EQ(RewriteFeedbackState::shared().lastError(), c.lastError);
        QStringList notices;
        for (const auto& notice : t.surfaces.notices) {
            notices.append(notice.message.text);
            EXPECT_EQ(notice.message.level, Level::warning);
            EXPECT_EQ(notice.seconds, 2.5);
        }
        EXPECT_EQ(notices, c.notice.isEmpty() ? QStringList() : QStringList{c.notice});
        const QStringList lines = t.logLines();
        if (c.logCode.isEmpty()) {
            EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
        } else {
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.first().contains(QStringLiteral(" ERROR code=") + c.logCode + QLatin1Char(' ')))
                << lines.first().toStdString();
            EXPECT_TRUE(lines.first().contains(QStringLiteral("msg=\"") + c.lastError->text)) << lines.first().toStdString();
        }
        QStringList expectedEvents = c.events;
        expectedEvents.sort();
        EXPECT_EQ(t.events(), expectedEvents);
        EXPECT_EQ(t.fakes.pasteboard().text(), c.clipboardAfter);
        if (c.logCode == QLatin1String("paste_failed")) {
            EXPECT_TRUE(t.pasted.isEmpty());
        }
        if (c.events.isEmpty()) {
            EXPECT_EQ(t.server.requests().size(), requestsBefore) << "nothing may reach the provider";
        }
        t.expectRunEndedCleanly();
    }
}

TEST_F(RewriteRoadTest, SuccessSendsTheTrimmedSelectionAndPastesTheAnswerAsReturned)
{
    selection = QStringLiteral("\n  fix this text  \n");
    answer(QStringLiteral("  Fixed text.\n"));
    ASSERT_TRUE(runRoad().done);

    EXPECT_EQ(lastUserText(), QStringLiteral("fix this text"));
    EXPECT_EQ(lastSystemText(), TransformPromptBuilder::systemText(AITransformMode::tonePreset(TonePreset::builtIns().first())));
    // The provider trims its answer; the road pastes what it got.
    EXPECT_EQ(pasted, QStringList{QStringLiteral("Fixed text.")});
    EXPECT_EQ(fakes.pasteboard().text(), QStringLiteral("earlier clipboard"));
    EXPECT_EQ(RewriteUsageStore::shared().todayCount(), 1);
    EXPECT_EQ(surfaces.calls, (QStringList{"closeSettings", "showSpinner", "hideSpinner"}));
    const QStringList log = systemLog();
    EXPECT_TRUE(log.contains(QStringLiteral("Starting rewrite chars=13 provider=openai-compatible mode=Professional")))
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.filter(QRegularExpression(QStringLiteral("^Rewrite finished in [0-9,.]+ms$"))).size() == 1);
    expectRunEndedCleanly();
}

TEST_F(RewriteRoadTest, PhaseIsWorkingOnlyDuringTheProviderCall)
{
    selection = QStringLiteral("text");
    changeSettings([](AppSettings& s) { s.askToneEachTime = true; });
    surfaces.toneAnswer = TonePickerChoice::preset(TonePreset::builtIns().at(2));
    surfaces.holdPanels = true;
    auto gate = std::make_shared<LoopbackHttpServer::Gate>();
    server.enqueue(Reply::json(rewrite_test::openAIAnswer(QStringLiteral("ok"))).withPiece({}, 0, gate));
    QList<RewriteChromeState::Phase> phases;
    QObject context;
    QObject::connect(&RewriteChromeState::shared(), &RewriteChromeState::phaseChanged, &context,
                     [&](RewriteChromeState::Phase p) { phases.append(p); });

    auto task = RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return surfaces.calls.contains("askTone"); }));
    EXPECT_EQ(RewriteChromeState::shared().phase(), RewriteChromeState::Phase::idle);
    surfaces.release();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(RewriteChromeState::shared().phase(), RewriteChromeState::Phase::working);
    gate->open();
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !RewriteCoordinator::gateIsHeld(); }));
    EXPECT_EQ(phases, (QList<RewriteChromeState::Phase>{RewriteChromeState::Phase::working, RewriteChromeState::Phase::idle}));
    EXPECT_TRUE(systemLog().contains(QStringLiteral("Starting rewrite chars=4 provider=openai-compatible mode=Friendly")));
}

TEST_F(RewriteRoadTest, ASecondPressWhileTheFirstRunsIsDroppedNotQueued)
{
    selection = QStringLiteral("text");
    changeSettings([](AppSettings& s) { s.askToneEachTime = true; });
    surfaces.toneAnswer = TonePickerChoice::preset(TonePreset::builtIns().first());
    surfaces.holdPanels = true;
    answer(QStringLiteral("first"));

    auto first = RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return surfaces.calls.contains("askTone"); }));
    ASSERT_TRUE(runRoad().done); // the second press, while the picker is open
    EXPECT_EQ(surfaces.calls.count("askTone"), 1);
    EXPECT_TRUE(systemLog().contains(QStringLiteral("Skipped: rewrite operation already in flight")));

    surfaces.release();
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !RewriteCoordinator::gateIsHeld(); }));
    EXPECT_EQ(pasted, QStringList{QStringLiteral("first")});

    // The gate is open again: the next press runs.
    surfaces.holdPanels = false;
    answer(QStringLiteral("second"));
    ASSERT_TRUE(runRoad().done);
    EXPECT_EQ(pasted, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
}

TEST_F(RewriteRoadTest, AServicesRewriteHoldingTheGateDropsTheShortcut)
{
    auto gate = std::make_shared<LoopbackHttpServer::Gate>();
    server.enqueue(Reply::json(rewrite_test::openAIAnswer(QStringLiteral("done"))).withPiece({}, 0, gate));
    auto board = std::make_shared<RewriteCoordinator::ServicesPasteboard>();
    board->text = QStringLiteral("from services");
    auto services = RewriteCoordinator::shared().rephrasePasteboard(board);
    ASSERT_TRUE(server.waitForRequests(1));

    selection = QStringLiteral("text");
    ASSERT_TRUE(runRoad().done);
    EXPECT_TRUE(fakes.keys().posted.isEmpty());
    EXPECT_TRUE(systemLog().contains(QStringLiteral("Skipped: rewrite operation already in flight")));
    gate->open();
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !RewriteCoordinator::gateIsHeld(); }));
}

TEST(RewriteRoadModeTest, ChoicesOfThePanelsDecideTheMode)
{
    struct Case {
        const char* name;
        bool askTone;
        bool askInstruction;
        std::optional<TonePickerChoice> tone;
        std::optional<QString> instruction;
        QStringList panelCalls;
        QString modeLabel;
        QString userText;
    };
    const TonePreset casual = TonePreset::builtIns().at(1);
    const Case cases[] = {
        {"picker preset", true, false, TonePickerChoice::preset(casual), std::nullopt,
         {"closeSettings", "askTone", "showSpinner", "hideSpinner"}, casual.name, QStringLiteral("words")},
        {"describe the edit", true, false, TonePickerChoice::describeEdit(), QStringLiteral("  Make it rhyme \n"),
         {"closeSettings", "askTone", "closeMenuPopover", "closeSettings", "askInstruction", "showSpinner", "hideSpinner"},
         QStringLiteral("describe_edit"), QStringLiteral("Instruction:\nMake it rhyme\n\nSelected text:\nwords")},
        {"instruction asked directly", false, true, std::nullopt, QStringLiteral("Shorter"),
         {"closeSettings", "askInstruction", "showSpinner", "hideSpinner"}, QStringLiteral("describe_edit"),
         QStringLiteral("Instruction:\nShorter\n\nSelected text:\nwords")},
        {"both switches on: only the picker", true, true, TonePickerChoice::preset(casual), QStringLiteral("unused"),
         {"closeSettings", "askTone", "showSpinner", "hideSpinner"}, casual.name, QStringLiteral("words")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoadHarness t;
        t.selection = QStringLiteral("words");
        t.changeSettings([&](AppSettings& s) {
            s.askToneEachTime = c.askTone;
            s.askAICommandEachTime = c.askInstruction;
        });
        t.surfaces.toneAnswer = c.tone;
        t.surfaces.instructionAnswer = c.instruction;
        t.answer(QStringLiteral("ok"));
        ASSERT_TRUE(t.runRoad().done);
        EXPECT_EQ(t.surfaces.calls, c.panelCalls);
        EXPECT_EQ(t.lastUserText(), c.userText);
        EXPECT_TRUE(t.systemLog().contains(QStringLiteral("Starting rewrite chars=5 provider=openai-compatible mode=") + c.modeLabel));
        if (c.askTone) {
            EXPECT_TRUE(t.surfaces.offeredDescribeEdit);
        }
    }
}

TEST_F(RewriteRoadTest, UnknownDefaultToneFallsBackToTheFirstBuiltIn)
{
    selection = QStringLiteral("words");
    changeSettings([](AppSettings& s) { s.defaultTonePresetId = QUuid::createUuid(); });
    answer(QStringLiteral("ok"));
    ASSERT_TRUE(runRoad().done);
    EXPECT_TRUE(lastSystemText().endsWith(TonePreset::builtIns().first().instruction));
}

TEST_F(RewriteRoadTest, SilentRewriteShowsNoSpinner)
{
    selection = QStringLiteral("words");
    changeSettings([](AppSettings& s) { s.silentRewrite = true; });
    server.enqueue(Reply::json(R"({"error":"x"})", 500));
    ASSERT_TRUE(runRoad().done);
    EXPECT_EQ(surfaces.calls, QStringList{"closeSettings"});
}

TEST_F(RewriteRoadTest, ARewriteKeepsEveryFormatOfTheUsersClipboard)
{
    const platform::Pasteboard::Contents rich{{{QStringLiteral("text/plain;charset=utf-8"), "caption"},
                                               {QStringLiteral("image/png"), QByteArray("\x89PNG\r\n\x1a\n....", 12)},
                                               {QStringLiteral("text/html"), "<b>caption</b>"}}};
    fakes.pasteboard().putFromOtherClient(rich);
    selection = QStringLiteral("words");
    answer(QStringLiteral("Better."));
    ASSERT_TRUE(runRoad().done);
    EXPECT_EQ(pasted, QStringList{QStringLiteral("Better.")});
    EXPECT_EQ(fakes.pasteboard().contents(), rich);
}

// Providers quote the user's text in their error bodies, which run to
// megabytes; the journal keeps what it gets for every reader of it.
TEST(RewriteRoadSystemLogTest, ProviderErrorBodiesReachTheSystemLogBounded)
{
    const QByteArray quoted = "Invalid request for text: \"my private words\"\n";
    QByteArray body = "{\"error\": {\"message\": \"" + QByteArray(2 * 1024 * 1024, 'x') + "\"}}\n";
    body += quoted;
    struct Case {
        const char* name;
        ProviderId provider;
    };
    const Case cases[] = {
        {"OpenAI-compatible, through the rewrite road", ProviderId::openaiCompatible},
        {"Gemini, whose client library logs the payload too", ProviderId::gemini},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoadHarness t;
        rewrite_test::ScopedEnv gemini("VELLOX_GEMINI_BASE_URL", t.server.baseUrl().toUtf8());
        KeychainStore::setApiKey(QStringLiteral("gk-test"), ProviderId::gemini);
        t.changeSettings([&c](AppSettings& s) {
            s.provider = c.provider;
            s.model = QStringLiteral("m");
        });
        t.selection = QStringLiteral("my private words");
        t.server.enqueue(Reply::json(body, 500));
        ASSERT_TRUE(t.runRoad().done);

        const QStringList log = t.systemLog();
        ASSERT_FALSE(log.filter(QStringLiteral("Rewrite failed: ")).isEmpty()) << log.join('\n').left(2000).toStdString();
        for (const QString& message : log) {
            EXPECT_LE(message.size(), 601) << message.left(200).toStdString();
            EXPECT_FALSE(message.contains(u'\n'));
            EXPECT_FALSE(message.contains(QStringLiteral("my private words")));
        }
    }
}

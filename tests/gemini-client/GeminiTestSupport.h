#pragma once

#include "support/LoopbackHttpServer.h"
#include "gemini-client/AsyncStream.h"
#include "gemini-client/Error.h"
#include "gemini-client/GenerativeModel.h"
#include "gemini-client/HttpExchange.h"
#include "gemini-client/Logging.h"
#include "platform/Platform.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeSystemLog.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

namespace geminitest {

inline constexpr int kWaitMs = 20000;

struct TimedOut : std::runtime_error {
    TimedOut()
        : std::runtime_error("timed out waiting for a coroutine")
    {
    }
};

template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    QEventLoop* loop = nullptr;
};

template <class T, class Awaitable>
QCoro::Task<> drive(std::shared_ptr<Outcome<T>> outcome, Awaitable awaitable)
{
    try {
        outcome->value.emplace(co_await std::move(awaitable));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (outcome->loop)
        outcome->loop->quit();
}

// Runs the awaitable on a nested event loop and returns its result or throws
// its exception. A late completion after a timeout lands in the shared outcome.
template <class T, class Awaitable>
T run(Awaitable awaitable, int timeoutMs = kWaitMs)
{
    auto outcome = std::make_shared<Outcome<T>>();
    drive<T>(outcome, std::move(awaitable));
    if (!outcome->done) {
        QEventLoop loop;
        outcome->loop = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        outcome->loop = nullptr;
    }
    if (!outcome->done)
        throw TimedOut();
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(*outcome->value);
}

template <class T>
T wait(QCoro::Task<T>&& task, int timeoutMs = kWaitMs)
{
    return run<T>(std::move(task), timeoutMs);
}

template <class T>
std::optional<T> next(const gemini::AsyncStream<T>& stream, int timeoutMs = kWaitMs)
{
    return run<std::optional<T>>(stream.next(), timeoutMs);
}

// Everything a stream delivers, and the error it ended with.
template <class T>
struct Drained {
    QList<T> values;
    gemini::ErrorPtr error;
};

template <class T>
Drained<T> drain(const gemini::AsyncStream<T>& stream, int timeoutMs = kWaitMs)
{
    Drained<T> drained;
    try {
        while (std::optional<T> value = next(stream, timeoutMs))
            drained.values.append(std::move(*value));
    } catch (const gemini::Error&) {
        drained.error = gemini::currentError();
    }
    return drained;
}

// The error a call throws, as the given type; fails the test when it throws
// nothing or something else.
template <class E, class F>
std::optional<E> thrown(F&& call)
{
    try {
        call();
        ADD_FAILURE() << "expected an error, got none";
    } catch (const E& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected error: " << other.what();
    }
    return std::nullopt;
}

// Fakes installed, a loopback server, and models pointed at it.
class GeminiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        gemini::Logging::setDebugLoggingOverride(std::nullopt);
        // Every exchange a test started has ended and cleaned up after itself.
        EXPECT_TRUE(QTest::qWaitFor([] { return gemini::detail::HttpExchange::liveCount() == 0; }, kWaitMs));
    }

    platform::fake::FakeSystemLog& systemLog()
    {
        return platform::fake::as<platform::fake::FakeSystemLog>(guard.platform().systemLog);
    }
    QStringList logMessages() { return systemLog().messages(); }

    gemini::RequestOptions options(double timeout = 300) const
    {
        return gemini::RequestOptions(timeout, QStringLiteral("v1beta"), server.baseUrl());
    }

    // Built the way the application's provider builds it.
    gemini::GenerativeModel model(QString name = QStringLiteral("gemini-2.5-flash"), double timeout = 300,
                                  QString apiKey = QStringLiteral("test-key")) const
    {
        return gemini::GenerativeModel(std::move(name), std::move(apiKey), gemini::GenerationConfig{.temperature = 0.4f},
                                       std::nullopt, std::nullopt, std::nullopt,
                                       gemini::ModelContent(QStringLiteral("system"), "Rewrite the text."),
                                       options(timeout));
    }

    platform::PlatformGuard guard;
    LoopbackHttpServer server;
};

// A one-candidate answer with the given text and finish reason (none when empty).
inline QByteArray textAnswer(const QByteArray& text, const QByteArray& finishReason = "STOP")
{
    const QByteArray finish = finishReason.isEmpty() ? QByteArray() : R"(,"finishReason":")" + finishReason + '"';
    return R"({"candidates":[{"content":{"role":"model","parts":[{"text":")" + text + R"("}]})" + finish + "}]}";
}

} // namespace geminitest

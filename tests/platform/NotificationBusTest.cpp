#include "platform/NotificationBus.h"

#include <QCoreApplication>
#include <QThread>
#include <QtConcurrent>
#include <QSignalSpy>

#include <gtest/gtest.h>

using platform::NotificationBus;

TEST(NotificationBus, PostFromMainThreadReachesMatchingObserversBeforeReturning)
{
    NotificationBus bus;
    QObject context;
    QStringList seen;
    bus.observe("a", &context, [&](const QVariantMap& info) { seen << "a:" + info.value("k").toString(); });
    bus.observe("b", &context, [&](const QVariantMap&) { seen << "b"; });
    bus.post("a", {{"k", "v"}});
    EXPECT_EQ(seen, QStringList{"a:v"});
}

TEST(NotificationBus, PostFromWorkerIsDeliveredOnTheMainThread)
{
    NotificationBus bus;
    QObject context;
    QThread* deliveredOn = nullptr;
    bus.observe("x", &context, [&](const QVariantMap&) { deliveredOn = QThread::currentThread(); });
    QtConcurrent::run([&bus] { bus.post("x"); }).waitForFinished();
    EXPECT_EQ(deliveredOn, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveredOn, QCoreApplication::instance()->thread());
}

TEST(NotificationBus, ObserverEndsWithItsContext)
{
    NotificationBus bus;
    int calls = 0;
    {
        QObject context;
        bus.observe("x", &context, [&](const QVariantMap&) { ++calls; });
        bus.post("x");
    }
    bus.post("x");
    EXPECT_EQ(calls, 1);
}

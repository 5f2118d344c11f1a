#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/LocalEventMonitor.h"

#include <QApplication>
#include <QLineEdit>

using namespace shortcuts_test;

namespace {

class EventMonitors : public ShortcutsTest {};

} // namespace

TEST_F(EventMonitors, AStartedMonitorSeesItsTypesUntilItGoes)
{
    QLineEdit field;
    QList<QEvent::Type> seen;
    auto monitor = std::make_unique<LocalEventMonitor>(QSet<QEvent::Type>{QEvent::KeyPress},
                                                       [&](QObject*, QEvent* event) {
                                                           seen.append(event->type());
                                                           return true;
                                                       });
    const auto type = [&](const QString& text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, text);
        QApplication::sendEvent(&field, &press);
    };

    type(QStringLiteral("a"));
    EXPECT_EQ(field.text(), QStringLiteral("a"));
    EXPECT_TRUE(seen.isEmpty());

    monitor->start();
    type(QStringLiteral("b"));
    QEvent other(QEvent::FontChange);
    QApplication::sendEvent(&field, &other);
    EXPECT_EQ(field.text(), QStringLiteral("a"));
    EXPECT_EQ(seen, QList<QEvent::Type>{QEvent::KeyPress});

    monitor.reset();
    type(QStringLiteral("c"));
    EXPECT_EQ(field.text(), QStringLiteral("ac"));
}

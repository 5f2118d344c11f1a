#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

// The Services entry on the session bus: other programs hand over text and
// get the rewrite back. The reply is sent when the rewrite ends; meanwhile
// the event loop keeps running.
class VelloxServiceProvider final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.vellox.desktop.Services")

public:
    static constexpr const char* kServiceName = "app.vellox.desktop";
    static constexpr const char* kObjectPath = "/app/vellox/desktop";
    static constexpr const char* kInterface = "app.vellox.desktop.Services";
    static constexpr const char* kRewriteFailedError = "app.vellox.desktop.Error.RewriteFailed";

    static VelloxServiceProvider& shared();

    // Exports the object and takes the bus name; false when either fails
    // (another instance holds the name, or no bus answers).
    bool registerOn(QDBusConnection connection);
    void unregisterFrom(QDBusConnection connection);

public slots:
    // The answer, or the text unchanged when there was nothing to do; a
    // recorded failure answers the RewriteFailed error with its message.
    QString velloxSelection(const QString& text);

private:
    VelloxServiceProvider() = default;
};

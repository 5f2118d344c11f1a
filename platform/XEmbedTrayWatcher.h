#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace platform {

// Watches the XEmbed system tray: the owner of the screen's tray selection.
// A tray that starts docks the icons of running programs at once, so its
// arrival is the moment another way of showing the icon must give way, and
// its departure the moment one is needed again. The server reports each
// change of owner; nothing is polled. Off X11 there is never a tray and no
// change is reported. Main thread only.
class XEmbedTrayWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedTrayWatcher(QObject* parent = nullptr);
    ~XEmbedTrayWatcher() override;

    bool trayPresent() const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // The tray selection got a new owner or lost its owner.
    void trayChanged();

private:
    quint32 selection_ = 0;
    int selectionNotify_ = -1;
};

} // namespace platform

#pragma once

#include "platform/Pasteboard.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>

class QMimeData;

namespace platform::linuxbackend {

// The CLIPBOARD selection through QClipboard. While we own it, the event
// loop answers other clients' requests for the data. On X11 it also reads,
// from Qt's connection, who asks for our data and who takes the clipboard:
// a window's client is the part of its id the server gave that connection.
class QtPasteboard final : public QObject, public Pasteboard, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    QtPasteboard();
    ~QtPasteboard() override;

    std::optional<QString> text() const override;
    void setText(const QString& text) override;
    void clear() override;
    Contents contents() const override;
    void setContents(const Contents& contents) override;
    Ownership lastTakenBy(quint64 window) const override;
    bool fetchedByClientOf(quint64 window) const override;
    bool ownedByUs() const override;
    std::optional<QString> primaryTextOf(quint64 window) const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void install(QMimeData* data);

    bool onX11_ = false;
    quint32 idMask_ = 0;
    quint32 ourClient_ = 0;
    quint32 clipboardAtom_ = 0;
    quint32 targetsAtom_ = 0;
    quint32 timestampAtom_ = 0;
    int xfixesNotify_ = -1;
    // Clients that asked for our data since our last write.
    QList<quint32> requesters_;
    // The latest taking of the clipboard by each other client, and by any.
    QHash<quint32, Ownership> takenBy_;
    Ownership lastOther_;
    quint32 localChanges_ = 0;
};

} // namespace platform::linuxbackend

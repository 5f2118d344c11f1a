#pragma once

#include "platform/Pasteboard.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

class QMimeData;

namespace platform::linuxbackend {

// The CLIPBOARD selection through QClipboard. While we own it, the event
// loop answers other clients' requests for the data. On X11 it also reads,
// from Qt's connection, who asks for our data and who takes the clipboard:
// a window's client is the part of its id the server gave that connection.
// The filter sees each request just before Qt answers it, in the same turn of
// the event loop, so any later look at a request finds it answered.
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
    void notePasteChord() override;
    bool ownedByUs() const override;
    std::optional<QString> primaryTextOf(quint64 window) const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Fetch {
        quint32 client = 0;
        quint32 requestor = 0; // the window Qt writes the answer to
        bool afterChord = false;
        bool inParts = false;
    };

    void install(QMimeData* data);
    void forgetRequests();
    bool offersText(quint32 target) const;
    bool sentInFull(const Fetch& fetch) const;

    bool onX11_ = false;
    quint32 idMask_ = 0;
    quint32 ourClient_ = 0;
    quint32 clipboardAtom_ = 0;
    int xfixesNotify_ = -1;
    // The most bytes Qt puts in one change of a property; a bigger answer
    // goes in parts.
    qsizetype singlePartLimit_ = 0;
    // The text formats a request may name, by atom: Qt answers the classic
    // text atoms from the plain text, the others from the format itself.
    QHash<quint32, QString> textFormats_;
    // What our latest write offers, with the bytes of each text format, and
    // the server time we took the clipboard with: Qt refuses requests from
    // before that.
    QHash<QString, qsizetype> offered_;
    quint32 ownedSince_ = 0;
    // Requests for our text since our last write, answered by Qt.
    QList<Fetch> fetches_;
    bool chordNoted_ = false;
    // Clients that asked for our data before any paste chord: they fetch on
    // changes of owner, not on a paste.
    QSet<quint32> ownerChangeFetchers_;
    // The latest taking of the clipboard by each other client, and by any.
    QHash<quint32, Ownership> takenBy_;
    Ownership lastOther_;
    quint32 localChanges_ = 0;
};

} // namespace platform::linuxbackend

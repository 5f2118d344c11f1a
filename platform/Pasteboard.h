#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace platform {

// The general clipboard. Main thread only.
class Pasteboard {
public:
    // Everything the clipboard holds, every format with its bytes, so it can
    // be put back exactly.
    struct Contents {
        QList<QPair<QString, QByteArray>> formats; // MIME type, data; in offer order
        bool isEmpty() const { return formats.isEmpty(); }
        friend bool operator==(const Contents&, const Contents&) = default;
    };

    virtual ~Pasteboard() = default;

    // The plain text, or none when the clipboard holds no text.
    virtual std::optional<QString> text() const = 0;
    // Replaces the whole clipboard with this text.
    virtual void setText(const QString& text) = 0;
    virtual void clear() = 0;

    virtual Contents contents() const = 0;
    // Replaces the whole clipboard; empty contents clear it.
    virtual void setContents(const Contents& contents) = 0;

    // A taking of the clipboard as the server reported it: the owner's
    // window and the server time the owner gave. Two copies by the same
    // window differ in their time.
    struct Ownership {
        quint64 window = 0;
        quint32 time = 0;
        friend bool operator==(const Ownership&, const Ownership&) = default;
    };

    // The latest time the client that made `window` took the clipboard, none
    // (all zero) when it has not since we started watching. With no window,
    // the latest taking by any client but us.
    virtual Ownership lastTakenBy(quint64 window) const = 0;
    // Whether the client that made `window` has fetched the text of our
    // latest write: asked for a text format we offer and was sent all of it
    // (a transfer in parts has sent its last part; one given up never
    // counts). Requests for other formats or for the list of formats are not
    // the fetch, nor are our own process's. Once the paste chord is noted,
    // only requests after it count. With no window, any other client counts,
    // except, once the chord is noted, clients that ask for our data on
    // changes of owner, as clipboard managers do. Backends that cannot tell
    // answer true.
    virtual bool fetchedByClientOf(quint64 window) const = 0;
    // Notes that the paste chord for our latest write goes out now.
    virtual void notePasteChord() = 0;
    // Whether the server names us the owner now. Backends that cannot ask
    // answer true.
    virtual bool ownedByUs() const = 0;
    // The text of the primary selection (what selecting sets) when the client
    // that made `window` owns it; none otherwise.
    virtual std::optional<QString> primaryTextOf(quint64 window) const = 0;
};

} // namespace platform

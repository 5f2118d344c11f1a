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

    // Counts every change of the clipboard, ours and other clients'.
    virtual quint64 changeCount() const = 0;
    // Whether another client has asked for the data since our last write.
    // Backends that cannot tell answer true.
    virtual bool ourDataWasFetched() const = 0;
};

} // namespace platform

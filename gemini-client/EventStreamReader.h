#pragma once

#include "gemini-client/Error.h"
#include "gemini-client/LineSplitter.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace gemini::detail {

// Reads the body of a streamed answer, line by line as it arrives.
//
// With status 200, each "data:" line is one event, decoded and delivered on
// its own; every other line is kept, and when the body ends with kept text,
// that text is the service's error and ends the stream. With any other
// status, the whole body is the error.
class EventStreamReader {
public:
    struct Handlers {
        // Decodes and delivers one event's JSON; throws when it does not decode.
        std::function<void(QByteArrayView json)> event;
        // Ends the stream normally.
        std::function<void()> finish;
        // Ends the stream with an error.
        std::function<void(ErrorPtr)> fail;
    };

    EventStreamReader(int status, Handlers handlers);

    // False once the stream has ended and no more bytes should be read.
    bool feed(QByteArrayView bytes);
    // The body is complete.
    void end();
    // The transport failed; ends the stream with that error unless it has ended.
    void fail(ErrorPtr error);

    bool hasEnded() const { return ended_; }

private:
    bool handleLine(QByteArrayView line);
    void failWith(ErrorPtr error);
    void finishWithServerError(const QByteArray& text);

    int status_;
    Handlers handlers_;
    LineSplitter lines_;
    QByteArray kept_;
    bool ended_ = false;
};

// Whether the bytes are well-formed UTF-8.
bool isValidUtf8(QByteArrayView bytes);

} // namespace gemini::detail

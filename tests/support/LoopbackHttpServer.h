#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A small HTTP/1.1 server for tests, listening on 127.0.0.1 on a free port and
// living on the thread that made it. It records every request and answers from
// a script of replies, in order, or from a handler.
//
// A reply can be delayed, sent in pieces (plain or with chunked transfer
// encoding), held back piece by piece until the test opens a gate, or cut off
// abruptly before or in the middle of the response.
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request {
        QByteArray method;
        QByteArray target; // path with query, exactly as sent
        QByteArray version;
        QList<Header> headers; // in the order sent
        QByteArray body; // with any chunked framing removed
        int connection = 0; // which connection it came on, counted from 0

        // The first header of that name, compared case-insensitively; empty when absent.
        QByteArray header(QByteArrayView name) const;
        bool hasHeader(QByteArrayView name) const;
        QByteArray requestLine() const { return method + ' ' + target + ' ' + version; }
    };

    // Holds back the part of a reply that waits for it until the test opens it.
    class Gate {
    public:
        void open();
        bool isOpen() const { return open_; }
        void whenOpen(std::function<void()> action);

    private:
        bool open_ = false;
        std::vector<std::function<void()>> waiting_;
    };

    struct Piece {
        QByteArray bytes;
        int delayMs = 0; // before this piece
        std::shared_ptr<Gate> gate; // this piece waits for it (after the delay)
    };

    struct Reply {
        int status = 200;
        QList<Header> headers;
        QList<Piece> body;
        bool chunked = false; // each piece one chunk, then the terminal chunk
        int delayMs = 0; // before the status line
        std::shared_ptr<Gate> gate; // the status line waits for it (after the delay)
        // Sends the head one byte at a time, this far apart: a server that
        // is never silent for long, yet never finishes its answer.
        int headByteDelayMs = 0;
        // Cuts the connection after this many bytes of the response (head
        // included); 0 closes it without answering.
        std::optional<qsizetype> closeAfterBytes;
        // Cuts the connection after this many body pieces, before the rest and
        // before any terminal chunk.
        std::optional<int> closeAfterPieces;

        static Reply json(QByteArray body, int status = 200);
        // An event stream: each piece goes out as one chunk.
        static Reply eventStream(QList<QByteArray> pieces, int status = 200);
        static Reply closeWithoutAnswer();

        Reply& withHeader(QByteArray name, QByteArray value);
        Reply& withPiece(QByteArray bytes, int delayMs = 0, std::shared_ptr<Gate> gate = {});
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // "http://127.0.0.1:<port>", without a trailing slash.
    QString baseUrl() const;
    quint16 port() const;

    void enqueue(Reply reply);
    // Answers every request for which the script is empty.
    void setHandler(std::function<Reply(const Request&)> handler);
    // With keep-alive off, every response carries "Connection: close" and its
    // connection is closed after it.
    void setKeepAlive(bool keepAlive) { keepAlive_ = keepAlive; }

    const QList<Request>& requests() const { return requests_; }
    int connectionCount() const { return connectionCount_; }
    // Spins the event loop until that many requests have arrived.
    bool waitForRequests(int count, int timeoutMs = 5000);

signals:
    // Emitted as each request is recorded, before its reply starts. The
    // server must not be destroyed from a slot of this signal.
    void requestReceived();

private:
    class Connection;
    friend class Connection;

    Reply nextReply(const Request& request);

    QTcpServer server_;
    QList<Request> requests_;
    QList<Reply> script_;
    std::function<Reply(const Request&)> handler_;
    bool keepAlive_ = true;
    int connectionCount_ = 0;
};

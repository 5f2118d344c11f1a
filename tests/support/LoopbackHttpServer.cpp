#include "LoopbackHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool hasHeaderNamed(const QList<LoopbackHttpServer::Header>& headers, QByteArrayView name)
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QByteArray LoopbackHttpServer::Request::header(QByteArrayView name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

bool LoopbackHttpServer::Request::hasHeader(QByteArrayView name) const
{
    return hasHeaderNamed(headers, name);
}

void LoopbackHttpServer::Gate::open()
{
    if (open_)
        return;
    open_ = true;
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& action : waiting)
        action();
}

void LoopbackHttpServer::Gate::whenOpen(std::function<void()> action)
{
    if (open_)
        action();
    else
        waiting_.push_back(std::move(action));
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::json(QByteArray body, int status)
{
    Reply reply;
    reply.status = status;
    reply.headers.append(Header("Content-Type", "application/json"));
    reply.withPiece(std::move(body));
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::eventStream(QList<QByteArray> pieces, int status)
{
    Reply reply;
    reply.status = status;
    reply.chunked = true;
    reply.headers.append(Header("Content-Type", "text/event-stream"));
    for (auto& piece : pieces)
        reply.withPiece(std::move(piece));
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::closeWithoutAnswer()
{
    Reply reply;
    reply.closeAfterBytes = 0;
    return reply;
}

LoopbackHttpServer::Reply& LoopbackHttpServer::Reply::withHeader(QByteArray name, QByteArray value)
{
    headers.append(Header(std::move(name), std::move(value)));
    return *this;
}

LoopbackHttpServer::Reply& LoopbackHttpServer::Reply::withPiece(QByteArray bytes, int delayMs,
                                                                std::shared_ptr<Gate> gate)
{
    Piece piece;
    piece.bytes = std::move(bytes);
    piece.delayMs = delayMs;
    piece.gate = std::move(gate);
    body.append(std::move(piece));
    return *this;
}

// One accepted connection: reads requests one after another and answers each
// with the server's next reply before reading the next.
class LoopbackHttpServer::Connection : public QObject {
public:
    Connection(LoopbackHttpServer* server, QTcpSocket* socket, int index)
        : QObject(server)
        , server_(server)
        , socket_(socket)
        , index_(index)
    {
        socket_->setParent(this);
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::readMore);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

private:
    enum class State { Head, Body, ChunkSize, ChunkData, ChunkTrailer, Responding, Closed };

    void readMore()
    {
        if (state_ == State::Closed)
            return;
        buffer_ += socket_->readAll();
        parse();
    }

    void parse()
    {
        while (state_ != State::Responding && state_ != State::Closed) {
            if (!parseStep())
                return;
        }
    }

    // Consumes one element of the request; false when more bytes are needed.
    bool parseStep()
    {
        switch (state_) {
        case State::Head: {
            const qsizetype end = buffer_.indexOf("\r\n\r\n");
            if (end < 0)
                return false;
            const QList<QByteArray> lines = buffer_.left(end).split('\n');
            buffer_.remove(0, end + 4);
            current_ = Request{};
            current_.connection = index_;
            const QList<QByteArray> parts = lines.value(0).trimmed().split(' ');
            current_.method = parts.value(0);
            current_.target = parts.value(1);
            current_.version = parts.value(2);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    current_.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            if (current_.header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0)
                socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            if (current_.header("Transfer-Encoding").toLower().contains("chunked")) {
                state_ = State::ChunkSize;
            } else {
                remaining_ = current_.header("Content-Length").toLongLong();
                state_ = State::Body;
            }
            return true;
        }
        case State::Body: {
            if (buffer_.size() < remaining_)
                return false;
            current_.body = buffer_.left(remaining_);
            buffer_.remove(0, remaining_);
            requestComplete();
            return true;
        }
        case State::ChunkSize: {
            const qsizetype end = buffer_.indexOf("\r\n");
            if (end < 0)
                return false;
            QByteArray sizeText = buffer_.left(end);
            buffer_.remove(0, end + 2);
            if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0)
                sizeText.truncate(semicolon);
            remaining_ = sizeText.trimmed().toLongLong(nullptr, 16);
            state_ = remaining_ == 0 ? State::ChunkTrailer : State::ChunkData;
            return true;
        }
        case State::ChunkData: {
            if (buffer_.size() < remaining_ + 2)
                return false;
            current_.body += buffer_.left(remaining_);
            buffer_.remove(0, remaining_ + 2);
            state_ = State::ChunkSize;
            return true;
        }
        case State::ChunkTrailer: {
            const qsizetype end = buffer_.indexOf("\r\n");
            if (end < 0)
                return false;
            const bool last = end == 0;
            buffer_.remove(0, end + 2);
            if (last)
                requestComplete();
            return true;
        }
        case State::Responding:
        case State::Closed:
            return false;
        }
        return false;
    }

    void requestComplete()
    {
        state_ = State::Responding;
        closeAfterResponse_ = !server_->keepAlive_
            || current_.header("Connection").compare("close", Qt::CaseInsensitive) == 0;
        server_->requests_.append(current_);
        reply_ = server_->nextReply(current_);
        sentBytes_ = 0;
        nextPiece_ = 0;
        emit server_->requestReceived();
        afterDelay(reply_.delayMs, reply_.gate, [this] { sendHead(); });
    }

    void afterDelay(int delayMs, const std::shared_ptr<Gate>& gate, std::function<void()> then)
    {
        QPointer<Connection> self(this);
        auto waitForGate = [self, gate, then = std::move(then)] {
            if (!self)
                return;
            if (!gate) {
                then();
                return;
            }
            gate->whenOpen([self, then] {
                if (self)
                    then();
            });
        };
        if (delayMs > 0)
            QTimer::singleShot(delayMs, this, waitForGate);
        else
            waitForGate();
    }

    void sendHead()
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply_.status) + ' ' + reasonPhrase(reply_.status) + "\r\n";
        for (const auto& header : reply_.headers)
            head += header.first + ": " + header.second + "\r\n";
        if (reply_.chunked) {
            head += "Transfer-Encoding: chunked\r\n";
        } else if (!hasHeaderNamed(reply_.headers, "Content-Length")) {
            qsizetype length = 0;
            for (const auto& piece : reply_.body)
                length += piece.bytes.size();
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        }
        if (closeAfterResponse_)
            head += "Connection: close\r\n";
        head += "\r\n";
        if (reply_.headByteDelayMs > 0) {
            trickle(head);
            return;
        }
        if (!send(head))
            return;
        sendNextPiece();
    }

    void trickle(QByteArray rest)
    {
        if (rest.isEmpty()) {
            sendNextPiece();
            return;
        }
        if (!send(rest.left(1)))
            return;
        QPointer<Connection> self(this);
        QTimer::singleShot(reply_.headByteDelayMs, this, [self, rest = rest.mid(1)] {
            if (self && self->state_ != State::Closed)
                self->trickle(rest);
        });
    }

    void sendNextPiece()
    {
        if (reply_.closeAfterPieces && nextPiece_ >= *reply_.closeAfterPieces) {
            closeNow();
            return;
        }
        if (nextPiece_ >= reply_.body.size()) {
            finishResponse();
            return;
        }
        const Piece& piece = reply_.body[nextPiece_];
        afterDelay(piece.delayMs, piece.gate, [this] {
            const QByteArray& bytes = reply_.body[nextPiece_++].bytes;
            // An empty chunk would end a chunked body early.
            if (reply_.chunked && bytes.isEmpty()) {
                sendNextPiece();
                return;
            }
            const QByteArray framed = reply_.chunked
                ? QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n"
                : bytes;
            if (send(framed))
                sendNextPiece();
        });
    }

    void finishResponse()
    {
        if (reply_.chunked && !send("0\r\n\r\n"))
            return;
        if (closeAfterResponse_) {
            closeNow();
            return;
        }
        state_ = State::Head;
        parse();
    }

    // Writes the bytes, or as many as the reply allows before cutting the
    // connection; false when the connection was cut.
    bool send(const QByteArray& bytes)
    {
        if (reply_.closeAfterBytes) {
            const qsizetype allowed = *reply_.closeAfterBytes - sentBytes_;
            if (bytes.size() >= allowed) {
                if (allowed > 0)
                    socket_->write(bytes.left(allowed));
                sentBytes_ += std::max<qsizetype>(allowed, 0);
                closeNow();
                return false;
            }
        }
        socket_->write(bytes);
        socket_->flush();
        sentBytes_ += bytes.size();
        return true;
    }

    void closeNow()
    {
        state_ = State::Closed;
        // Pending bytes still go out before the close, so a cut lands exactly
        // where the reply asked for it.
        socket_->disconnectFromHost();
    }

    LoopbackHttpServer* server_;
    QTcpSocket* socket_;
    int index_;
    State state_ = State::Head;
    QByteArray buffer_;
    qsizetype remaining_ = 0;
    Request current_;
    Reply reply_;
    bool closeAfterResponse_ = false;
    qsizetype sentBytes_ = 0;
    qsizetype nextPiece_ = 0;
};

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection())
            new Connection(this, socket, connectionCount_++);
    });
    server_.listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    server_.close();
    // Connections are children and go with the server; cut them first so no
    // response is left half-sent to a client that is still waiting.
    for (Connection* connection : findChildren<Connection*>(Qt::FindDirectChildrenOnly)) {
        for (QTcpSocket* socket : connection->findChildren<QTcpSocket*>())
            socket->abort();
    }
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
}

quint16 LoopbackHttpServer::port() const
{
    return server_.serverPort();
}

void LoopbackHttpServer::enqueue(Reply reply)
{
    script_.append(std::move(reply));
}

void LoopbackHttpServer::setHandler(std::function<Reply(const Request&)> handler)
{
    handler_ = std::move(handler);
}

bool LoopbackHttpServer::waitForRequests(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return requests_.size() >= count; }, timeoutMs);
}

LoopbackHttpServer::Reply LoopbackHttpServer::nextReply(const Request& request)
{
    if (!script_.isEmpty())
        return script_.takeFirst();
    if (handler_)
        return handler_(request);
    return Reply::json(R"({"error":{"message":"no reply scripted"}})", 500);
}

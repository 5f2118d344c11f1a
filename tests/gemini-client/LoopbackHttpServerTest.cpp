#include "support/LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

using Reply = LoopbackHttpServer::Reply;

namespace {

// Sends raw bytes and collects everything the server sends back until it
// closes the connection or the wait runs out.
QByteArray exchange(LoopbackHttpServer& server, const QByteArray& bytes, int waitMs = 2000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    EXPECT_TRUE(socket.waitForConnected(waitMs));
    socket.write(bytes);
    QByteArray received;
    (void)QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        waitMs);
    return received + socket.readAll();
}

} // namespace

TEST(LoopbackHttpServerTest, RecordsPlainAndChunkedRequestsOnOneConnection)
{
    LoopbackHttpServer server;
    server.enqueue(Reply::json("{}"));
    server.enqueue(Reply::json("[]", 201));
    server.setKeepAlive(false);
    const QByteArray answer = exchange(server,
                                       "POST /a?x=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nhello"
                                       "POST /b HTTP/1.1\r\nTRANSFER-ENCODING: chunked\r\nX-Key: v\r\n\r\n"
                                       "3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\n\r\n");
    // Without keep-alive the connection closes after the first answer.
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(answer.contains("Connection: close\r\n"));
    EXPECT_TRUE(answer.endsWith("\r\n\r\n{}"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].requestLine(), "POST /a?x=1 HTTP/1.1");
    EXPECT_EQ(server.requests()[0].body, "hello");

    server.setKeepAlive(true);
    server.enqueue(Reply::json("{}"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write("POST /c HTTP/1.1\r\nContent-Length: 0\r\n\r\n"
                 "POST /d HTTP/1.1\r\nTransfer-Encoding: chunked\r\nx-key: v\r\n\r\n3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\n\r\n");
    ASSERT_TRUE(server.waitForRequests(3));
    EXPECT_EQ(server.requests()[2].body, "abcde");
    EXPECT_EQ(server.requests()[2].header("X-KEY"), "v");
    EXPECT_EQ(server.requests()[1].connection, server.requests()[2].connection);
    EXPECT_NE(server.requests()[0].connection, server.requests()[1].connection);
}

TEST(LoopbackHttpServerTest, CutsTheAnswerWhereTheReplySays)
{
    LoopbackHttpServer server;
    Reply cut = Reply::json("0123456789");
    cut.closeAfterBytes = 20;
    server.enqueue(cut);
    EXPECT_EQ(exchange(server, "GET / HTTP/1.1\r\n\r\n"), QByteArray("HTTP/1.1 200 OK\r\nCon"));

    Reply pieces = Reply::eventStream({"first", "second", "third"});
    pieces.closeAfterPieces = 2;
    server.enqueue(pieces);
    const QByteArray chunked = exchange(server, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(chunked.endsWith("5\r\nfirst\r\n6\r\nsecond\r\n"));

    server.enqueue(Reply::closeWithoutAnswer());
    EXPECT_TRUE(exchange(server, "GET / HTTP/1.1\r\n\r\n").isEmpty());
}

TEST(LoopbackHttpServerTest, GatedPieceWaitsForTheTest)
{
    LoopbackHttpServer server;
    auto gate = std::make_shared<LoopbackHttpServer::Gate>();
    Reply reply = Reply::eventStream({"early"});
    reply.withPiece("late", 0, gate);
    server.enqueue(reply);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write("GET / HTTP/1.1\r\n\r\n");
    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (received += socket.readAll()).contains("early\r\n"); }, 20000));
    QTest::qWait(50);
    received += socket.readAll();
    EXPECT_FALSE(received.contains("late"));
    gate->open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return (received += socket.readAll()).endsWith("4\r\nlate\r\n0\r\n\r\n"); }, 20000));
}

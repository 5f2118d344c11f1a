#pragma once

#include "gemini-client/Error.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace gemini::detail {

// What an exchange reports, in order: the response once its status is known,
// its body in pieces, then either the end or one failure.
class ExchangeSink {
public:
    virtual ~ExchangeSink() = default;
    virtual void response(int status, const QUrl& url) = 0;
    // False stops reading; nothing more is reported.
    virtual bool body(QByteArrayView bytes) = 0;
    virtual void end() = 0;
    virtual void fail(ErrorPtr error) = 0;
};

// One POST and its reply. It lives as a child of the reply and goes with it,
// so nothing outlives the exchange: when the body ends or fails the reply is
// deleted, and when the network session is destroyed first, the sink hears
// a failure instead of waiting forever.
//
// The timeout is an idle timeout: it starts over whenever bytes move in
// either direction. There is always one.
class HttpExchange final : public QObject {
    Q_OBJECT
public:
    static void start(QNetworkAccessManager* session, const QNetworkRequest& request, const QByteArray& body,
                      double idleTimeoutSeconds, std::unique_ptr<ExchangeSink> sink);

    ~HttpExchange() override;

    // How many exchanges exist, for tests that prove none is left behind.
    static int liveCount();

    // The idle timeout that stands in for one that is zero, negative or not
    // a number: 60 seconds, the platform's default. Tests shorten it.
    static std::atomic<double> defaultIdleTimeoutSeconds;

private:
    HttpExchange(QNetworkReply* reply, double idleTimeoutSeconds, std::unique_ptr<ExchangeSink> sink);

    bool ensureResponse();
    void readAvailable();
    void finished();
    void idleTimeout();
    void stop();

    QNetworkReply* reply_;
    std::unique_ptr<ExchangeSink> sink_;
    QTimer idleTimer_;
    bool responded_ = false;
    bool done_ = false;
    bool timedOut_ = false;
};

} // namespace gemini::detail

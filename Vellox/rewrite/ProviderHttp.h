#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QNetworkRequest>
#include <QPair>

#include <chrono>

// One HTTP exchange of the providers and the key probes, on the calling
// thread's shared network session.
namespace ProviderHttp {

struct Answer {
    int status = 0;
    QByteArray body;
};

// Answers bigger than this are cut off: a rewrite is one selection long.
inline constexpr qint64 kMaxAnswerBytes = 8 * 1024 * 1024;

// Sends once with the given idle timeout. Any HTTP answer, error statuses
// included, is returned; a transport failure throws ProviderTransportError,
// also after a success status whose body the connection cut short;
// an answer that is not HTTP, or is too large, throws
// ProviderAIError::badResponse.
QCoro::Task<Answer> send(QNetworkRequest request, QByteArray method, QByteArray body,
                         std::chrono::milliseconds timeout);

// The body as UTF-8, or "Request failed" when it is not valid UTF-8.
QString bodyText(const QByteArray& body);

} // namespace ProviderHttp

#pragma once

#include "support/LoopbackHttpServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>

#include <zlib.h>

#include <functional>
#include <optional>

// A stand-in for the analytics service on 127.0.0.1: it serves a remote
// configuration and a flags answer, and unpacks every gzip batch it receives.
class IngestionServer {
public:
    static QByteArray gunzip(const QByteArray& data)
    {
        z_stream stream{};
        if (inflateInit2(&stream, 31) != Z_OK)
            return {};
        QByteArray out;
        char buffer[16384];
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.avail_in = static_cast<uInt>(data.size());
        int result = Z_OK;
        while (result == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            result = inflate(&stream, Z_NO_FLUSH);
            out.append(buffer, static_cast<qsizetype>(sizeof buffer - stream.avail_out));
        }
        inflateEnd(&stream);
        return result == Z_STREAM_END ? out : QByteArray();
    }

    IngestionServer()
    {
        server.setHandler([this](const LoopbackHttpServer::Request& request) { return answer(request); });
    }

    QString host() const { return server.baseUrl(); }

    // The events of every batch so far, in arrival order. Each request is
    // unpacked once.
    QList<QVariantMap> events() const
    {
        const auto& requests = server.requests();
        for (; unpackedRequests_ < requests.size(); ++unpackedRequests_) {
            const auto& request = requests[unpackedRequests_];
            if (!request.target.startsWith("/batch"))
                continue;
            const QJsonObject body = QJsonDocument::fromJson(gunzip(request.body)).object();
            for (const QJsonValue& event : body.value("batch").toArray())
                unpacked_.append(event.toObject().toVariantMap());
        }
        return unpacked_;
    }
    QList<LoopbackHttpServer::Request> requestsTo(const QByteArray& prefix) const
    {
        QList<LoopbackHttpServer::Request> found;
        for (const auto& request : server.requests())
            if (request.target.startsWith(prefix))
                found.append(request);
        return found;
    }
    // Spins the event loop until the condition holds.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            server.waitForRequests(server.requests().size() + 1, 20);
        }
        return true;
    }
    bool waitForEvents(int count, int timeoutMs = 10000)
    {
        return waitFor([&] { return events().size() >= count; }, timeoutMs);
    }

    QByteArray remoteConfig = R"({"hasFeatureFlags": true})";
    int remoteConfigStatus = 200;
    QByteArray flags = R"({"featureFlags": {}, "featureFlagPayloads": {}})";
    // Holds flags answers back until opened.
    std::shared_ptr<LoopbackHttpServer::Gate> flagsGate;
    // Holds batch answers back until opened.
    std::shared_ptr<LoopbackHttpServer::Gate> batchGate;
    int batchStatus = 200;

    LoopbackHttpServer server;

private:
    mutable qsizetype unpackedRequests_ = 0;
    mutable QList<QVariantMap> unpacked_;

    LoopbackHttpServer::Reply answer(const LoopbackHttpServer::Request& request)
    {
        if (request.target.startsWith("/array/"))
            return LoopbackHttpServer::Reply::json(remoteConfig, remoteConfigStatus);
        if (request.target.startsWith("/flags")) {
            auto reply = LoopbackHttpServer::Reply::json(flags);
            reply.gate = flagsGate;
            return reply;
        }
        auto reply = LoopbackHttpServer::Reply::json("{}", batchStatus);
        reply.gate = batchGate;
        return reply;
    }
};

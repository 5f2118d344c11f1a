#pragma once

#include "Vellox/rewrite/LocalizedError.h"

// A request that got no HTTP answer: no connection, a timeout, a reset. It
// reaches the roads unwrapped, as "any other error".
class ProviderTransportError final : public LocalizedError {
public:
    ProviderTransportError(int networkError, QString message)
        : networkError_(networkError)
        , message_(std::move(message))
    {
    }

    // The QNetworkReply::NetworkError the transport reported.
    int networkError() const { return networkError_; }
    QString errorDescription() const override { return message_; }

private:
    int networkError_;
    QString message_;
};

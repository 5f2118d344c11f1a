#pragma once

#include "gemini-client/EnumCoding.h"
#include "gemini-client/Error.h"
#include "gemini-client/JSONCoding.h"

#include <QList>
#include <QString>

#include <optional>

// The typed form of the service's error bodies.
namespace gemini {

enum class RPCStatus {
    ok,
    cancelled,
    unknown,
    invalidArgument,
    deadlineExceeded,
    notFound,
    alreadyExists,
    permissionDenied,
    unauthenticated,
    resourceExhausted,
    failedPrecondition,
    aborted,
    outOfRange,
    unimplemented,
    internalError,
    unavailable,
    dataLoss,
};
QString rawValue(RPCStatus status);
template <>
std::optional<RPCStatus> fromRawValue<RPCStatus>(QStringView text);

struct ErrorDetails {
    QString type; // "@type"
    std::optional<QString> reason;
    std::optional<QString> domain;

    bool operator==(const ErrorDetails&) const = default;
};

// The "error" object of an error body.
struct ErrorStatus {
    std::optional<qint64> code;
    std::optional<QString> message;
    std::optional<RPCStatus> status;
    QList<ErrorDetails> details;
};

class RPCError final : public ErrorBase<RPCError> {
public:
    // The type URL of the ErrorInfo detail of the RPC error model.
    static constexpr const char* errorInfoType = "type.googleapis.com/google.rpc.ErrorInfo";

    RPCError(qint64 httpResponseCode, QString message, RPCStatus status, QList<ErrorDetails> details)
        : httpResponseCode_(httpResponseCode)
        , message_(std::move(message))
        , status_(status)
        , details_(std::move(details))
    {
    }

    // The body's "code", or -1 when it has none.
    qint64 httpResponseCode() const { return httpResponseCode_; }
    const QString& message() const { return message_; }
    RPCStatus status() const { return status_; }
    const QList<ErrorDetails>& details() const { return details_; }
    // The first detail whose type is the ErrorInfo type URL.
    std::optional<ErrorDetails> errorInfo() const;

    QString description() const override { return message_; }

private:
    qint64 httpResponseCode_;
    QString message_;
    RPCStatus status_;
    QList<ErrorDetails> details_;
};

ErrorDetails decodeValue(const coding::Decoder& decoder, coding::Tag<ErrorDetails>);
ErrorStatus decodeValue(const coding::Decoder& decoder, coding::Tag<ErrorStatus>);
RPCError decodeValue(const coding::Decoder& decoder, coding::Tag<RPCError>);

} // namespace gemini

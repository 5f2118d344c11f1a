#include "RPCError.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

namespace {

constexpr coding::EnumCase<RPCStatus> kStatuses[] = {
    {RPCStatus::ok, "OK", "ok"},
    {RPCStatus::cancelled, "CANCELLED", "cancelled"},
    {RPCStatus::unknown, "UNKNOWN", "unknown"},
    {RPCStatus::invalidArgument, "INVALID_ARGUMENT", "invalidArgument"},
    {RPCStatus::deadlineExceeded, "DEADLINE_EXCEEDED", "deadlineExceeded"},
    {RPCStatus::notFound, "NOT_FOUND", "notFound"},
    {RPCStatus::alreadyExists, "ALREADY_EXISTS", "alreadyExists"},
    {RPCStatus::permissionDenied, "PERMISSION_DENIED", "permissionDenied"},
    {RPCStatus::unauthenticated, "UNAUTHENTICATED", "unauthenticated"},
    {RPCStatus::resourceExhausted, "RESOURCE_EXHAUSTED", "resourceExhausted"},
    {RPCStatus::failedPrecondition, "FAILED_PRECONDITION", "failedPrecondition"},
    {RPCStatus::aborted, "ABORTED", "aborted"},
    {RPCStatus::outOfRange, "OUT_OF_RANGE", "outOfRange"},
    {RPCStatus::unimplemented, "UNIMPLEMENTED", "unimplemented"},
    {RPCStatus::internalError, "INTERNAL", "internalError"},
    {RPCStatus::unavailable, "UNAVAILABLE", "unavailable"},
    {RPCStatus::dataLoss, "DATA_LOSS", "dataLoss"},
};

} // namespace

QString rawValue(RPCStatus status)
{
    return coding::rawValueIn<RPCStatus>(kStatuses, status);
}

template <>
std::optional<RPCStatus> fromRawValue<RPCStatus>(QStringView text)
{
    return coding::fromRawValueIn<RPCStatus>(kStatuses, text);
}

std::optional<ErrorDetails> RPCError::errorInfo() const
{
    for (const ErrorDetails& detail : details_) {
        if (detail.type == QLatin1String(errorInfoType))
            return detail;
    }
    return std::nullopt;
}

ErrorDetails decodeValue(const coding::Decoder& decoder, coding::Tag<ErrorDetails>)
{
    ErrorDetails details;
    details.type = decoder.decode<QString>("@type");
    details.reason = decoder.decodeIfPresent<QString>("reason");
    details.domain = decoder.decodeIfPresent<QString>("domain");
    return details;
}

ErrorStatus decodeValue(const coding::Decoder& decoder, coding::Tag<ErrorStatus>)
{
    ErrorStatus status;
    status.code = decoder.decodeIfPresent<qint64>("code");
    status.message = decoder.decodeIfPresent<QString>("message");
    // A status the service added later, or one of the wrong type, must not
    // hide the rest of the error.
    if (decoder.containsValue("status")) {
        const coding::Json& value = decoder.child("status").json();
        if (value.is_string())
            status.status = fromRawValue<RPCStatus>(QString::fromStdString(value.get_ref<const std::string&>()));
        if (!status.status)
            status.status = RPCStatus::unknown;
    }
    if (decoder.contains("details"))
        status.details = decoder.decode<QList<ErrorDetails>>("details");
    return status;
}

RPCError decodeValue(const coding::Decoder& decoder, coding::Tag<RPCError>)
{
    const ErrorStatus status = decoder.decode<ErrorStatus>("error");
    return RPCError(status.code.value_or(-1), status.message.value_or(QString::fromUtf8(texts::unknownError)),
                    status.status.value_or(RPCStatus::unknown), status.details);
}

} // namespace gemini

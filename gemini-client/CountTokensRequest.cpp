#include "CountTokensRequest.h"

namespace gemini {

QString CountTokensRequest::url() const
{
    return endpointPrefix(options) + model + QLatin1String(":countTokens");
}

coding::OrderedJson encodeValue(coding::Encoder& encoder, const CountTokensRequest& request)
{
    coding::OrderedJson object = coding::OrderedJson::object();
    encoder.field(object, "generateContentRequest", request.generateContentRequest);
    return object;
}

CountTokensResponse decodeValue(const coding::Decoder& decoder, coding::Tag<CountTokensResponse>)
{
    return CountTokensResponse{decoder.decode<qint64>("totalTokens")};
}

} // namespace gemini

#pragma once

#include "gemini-client/GenerateContentRequest.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/RequestOptions.h"

#include <QString>

namespace gemini {

struct CountTokensResponse {
    qint64 totalTokens = 0;
};

// Counts the tokens of a whole generation request; the body holds only the
// wrapped request.
struct CountTokensRequest {
    using Response = CountTokensResponse;

    QString model; // used only in the URL
    GenerateContentRequest generateContentRequest;
    RequestOptions options;

    QString url() const;
};

coding::OrderedJson encodeValue(coding::Encoder& encoder, const CountTokensRequest& request);
CountTokensResponse decodeValue(const coding::Decoder& decoder, coding::Tag<CountTokensResponse>);

} // namespace gemini

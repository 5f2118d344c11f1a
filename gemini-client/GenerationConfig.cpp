#include "GenerationConfig.h"

namespace gemini {

coding::OrderedJson encodeValue(coding::Encoder& encoder, const GenerationConfig& config)
{
    coding::OrderedJson object = coding::OrderedJson::object();
    encoder.fieldIfPresent(object, "temperature", config.temperature);
    encoder.fieldIfPresent(object, "topP", config.topP);
    encoder.fieldIfPresent(object, "topK", config.topK);
    encoder.fieldIfPresent(object, "candidateCount", config.candidateCount);
    encoder.fieldIfPresent(object, "maxOutputTokens", config.maxOutputTokens);
    encoder.fieldIfPresent(object, "stopSequences", config.stopSequences);
    encoder.fieldIfPresent(object, "responseMIMEType", config.responseMIMEType);
    encoder.fieldIfPresent(object, "responseSchema", config.responseSchema);
    return object;
}

} // namespace gemini

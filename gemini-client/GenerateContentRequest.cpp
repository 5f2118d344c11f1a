#include "GenerateContentRequest.h"

namespace gemini {

QString endpointPrefix(const RequestOptions& options)
{
    QString base = options.baseURL;
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + u'/' + options.apiVersion + u'/';
}

QString GenerateContentRequest::url() const
{
    const QLatin1String method = isStreaming ? QLatin1String(":streamGenerateContent?alt=sse")
                                             : QLatin1String(":generateContent");
    return endpointPrefix(options) + model + method;
}

coding::OrderedJson encodeValue(coding::Encoder& encoder, const GenerateContentRequest& request)
{
    coding::OrderedJson object = coding::OrderedJson::object();
    encoder.field(object, "model", request.model);
    encoder.field(object, "contents", request.contents);
    encoder.fieldIfPresent(object, "generationConfig", request.generationConfig);
    encoder.fieldIfPresent(object, "safetySettings", request.safetySettings);
    encoder.fieldIfPresent(object, "tools", request.tools);
    encoder.fieldIfPresent(object, "toolConfig", request.toolConfig);
    encoder.fieldIfPresent(object, "systemInstruction", request.systemInstruction);
    return object;
}

} // namespace gemini

// A streamed answer as it arrives from the network: the first byte picks the
// status and the size of the pieces the body is cut into, the rest is the
// body. Every event is decoded the way the streamed call decodes it.
#include "gemini-client/EventStreamReader.h"
#include "gemini-client/GeminiService.h"
#include "gemini-client/GenerateContentResponse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace gemini;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int status = (data[0] & 0x80) ? 400 : 200;
    const qsizetype pieceSize = (data[0] & 0x7f) + 1;
    const QByteArrayView body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    bool ended = false;
    detail::EventStreamReader reader(
        status, {[](QByteArrayView json) { (void)GeminiService::parseResponse<GenerateContentResponse>(json); },
                 [&] {
                     if (ended)
                         std::abort(); // a stream ends once
                     ended = true;
                 },
                 [&](ErrorPtr error) {
                     if (ended || !error)
                         std::abort();
                     ended = true;
                 }});
    for (qsizetype i = 0; i < body.size(); i += pieceSize) {
        if (!reader.feed(body.sliced(i, std::min(pieceSize, body.size() - i))))
            break;
    }
    reader.end();
    if (!ended)
        std::abort(); // the end of the body always ends the stream
    return 0;
}

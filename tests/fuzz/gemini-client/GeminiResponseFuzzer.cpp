// Whole answers as a server at the base URL could send them: a generation
// answer, a token count, or an error body. Decoding may fail, never crash.
#include "gemini-client/CountTokensRequest.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/GenerativeModel.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/RPCError.h"

#include <cstddef>
#include <cstdint>

using namespace gemini;

namespace {

template <class T, class Use>
void tryDecode(QByteArrayView bytes, Use use)
{
    try {
        use(coding::decode<T>(bytes));
    } catch (const Error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    tryDecode<GenerateContentResponse>(bytes, [](const GenerateContentResponse& response) {
        (void)response.text();
        for (const FunctionCall& call : response.functionCalls()) {
            // What was read must also write back out.
            coding::Encoder encoder;
            try {
                (void)coding::serialize(encodeValue(encoder, call));
            } catch (const EncodingError&) {
            }
        }
        try {
            checkGenerateContentResponse(response);
        } catch (const Error&) {
        }
    });
    tryDecode<CountTokensResponse>(bytes, [](const CountTokensResponse&) {});
    tryDecode<RPCError>(bytes, [](const RPCError& error) { (void)error.description(); });
    return 0;
}

#include "gemini-client/EventStreamReader.h"
#include "gemini-client/GeminiService.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/JSONCoding.h"

#include <benchmark/benchmark.h>

namespace {

// A typical one-shot answer of about 4 KB: a rewritten paragraph with its
// safety ratings, a citation and the token usage.
QByteArray typicalAnswer()
{
    QByteArray text;
    while (text.size() < 3300)
        text += "The quarterly report shows steady growth across all regions, with particular strength in "
                "the northern markets. \\nCosts stayed flat while revenue rose by \\\"eight percent\\\". ";
    QByteArray ratings;
    for (const char* category : {"HARM_CATEGORY_HARASSMENT", "HARM_CATEGORY_HATE_SPEECH",
                                 "HARM_CATEGORY_SEXUALLY_EXPLICIT", "HARM_CATEGORY_DANGEROUS_CONTENT"}) {
        if (!ratings.isEmpty())
            ratings += ',';
        ratings += QByteArray(R"({"category":")") + category + R"(","probability":"NEGLIGIBLE"})";
    }
    return R"({"candidates":[{"content":{"parts":[{"text":")" + text + R"("}],"role":"model"},)"
           R"("finishReason":"STOP","index":0,"safetyRatings":[)" + ratings + R"(],)"
           R"("citationMetadata":{"citationSources":[{"startIndex":12,"endIndex":240,"uri":"https://example.com/report"}]}}],)"
           R"("usageMetadata":{"promptTokenCount":812,"candidatesTokenCount":655,"totalTokenCount":1467},)"
           R"("modelVersion":"gemini-2.5-flash"})";
}

// A streamed answer: many small events, each one chunk of text.
QByteArray eventStream(int events)
{
    QByteArray body;
    for (int i = 0; i < events; ++i) {
        body += R"(data: {"candidates":[{"content":{"parts":[{"text":"Chunk )" + QByteArray::number(i)
            + R"( of the rewritten text, a sentence or so long."}],"role":"model"},"index":0}],)"
              R"("usageMetadata":{"promptTokenCount":812,"totalTokenCount":900}})" "\r\n\r\n";
    }
    return body;
}

void BM_DecodeTypicalAnswer(benchmark::State& state)
{
    const QByteArray answer = typicalAnswer();
    for (auto _ : state) {
        auto response = gemini::coding::decode<gemini::GenerateContentResponse>(answer);
        benchmark::DoNotOptimize(response.text());
    }
    state.SetBytesProcessed(state.iterations() * answer.size());
    state.counters["answer_bytes"] = double(answer.size());
}
BENCHMARK(BM_DecodeTypicalAnswer);

// Feeds a whole streamed body in network-sized pieces; with `decode` off only
// the framing (line splitting and event extraction) is measured.
void runEventStream(benchmark::State& state, bool decode)
{
    const QByteArray body = eventStream(200);
    const qsizetype pieceSize = state.range(0);
    qint64 events = 0;
    for (auto _ : state) {
        gemini::detail::EventStreamReader reader(
            200, {[&](QByteArrayView json) {
                      if (decode)
                          benchmark::DoNotOptimize(
                              gemini::GeminiService::parseResponse<gemini::GenerateContentResponse>(json));
                      ++events;
                  },
                  [] {}, [](gemini::ErrorPtr) {}});
        for (qsizetype i = 0; i < body.size(); i += pieceSize)
            reader.feed(QByteArrayView(body).sliced(i, std::min(pieceSize, body.size() - i)));
        reader.end();
    }
    state.SetBytesProcessed(state.iterations() * body.size());
    state.counters["events_per_second"] = benchmark::Counter(double(events), benchmark::Counter::kIsRate);
}

void BM_EventStreamFraming(benchmark::State& state)
{
    runEventStream(state, false);
}
BENCHMARK(BM_EventStreamFraming)->Arg(64)->Arg(1024)->Arg(16384);

void BM_EventStreamDecoding(benchmark::State& state)
{
    runEventStream(state, true);
}
BENCHMARK(BM_EventStreamDecoding)->Arg(1024);

} // namespace

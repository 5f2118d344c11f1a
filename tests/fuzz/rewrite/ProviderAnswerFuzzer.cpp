// Provider answers come from the network: the readers of the OpenAI-compatible
// and Anthropic answers must take any bytes without crashing.
#include "Vellox/rewrite/AnthropicClaudeProvider.h"
#include "Vellox/rewrite/OpenAICompatibleProvider.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto openai = OpenAICompatibleProvider::extractAssistantText(bytes);
    const auto anthropic = AnthropicClaudeProvider::extractText(bytes);
    // A text, when there is one, comes back trimmed.
    if (openai && *openai != openai->trimmed())
        __builtin_trap();
    if (anthropic && *anthropic != anthropic->trimmed())
        __builtin_trap();
    return 0;
}

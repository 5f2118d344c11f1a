#include "EventStreamReader.h"

#include "gemini-client/ErrorTexts.h"
#include "gemini-client/GeminiService.h"
#include "gemini-client/Logging.h"

namespace gemini::detail {

bool isValidUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        unsigned int codePoint = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            codePoint = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000)
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        p += length;
    }
    return true;
}

EventStreamReader::EventStreamReader(int status, Handlers handlers)
    : status_(status)
    , handlers_(std::move(handlers))
{
}

bool EventStreamReader::feed(QByteArrayView bytes)
{
    if (ended_)
        return false;
    lines_.feed(bytes, [this](QByteArrayView line) { return handleLine(line); });
    return !ended_;
}

void EventStreamReader::end()
{
    if (ended_)
        return;
    lines_.finish([this](QByteArrayView line) { return handleLine(line); });
    if (ended_)
        return;
    if (status_ != 200) {
        Logging::defaultLogger().error(QStringLiteral("[GeminiClient] Response payload: %1").arg(QString::fromUtf8(kept_)));
        finishWithServerError(kept_);
        return;
    }
    if (kept_.isEmpty()) {
        ended_ = true;
        handlers_.finish();
        return;
    }
    finishWithServerError(kept_);
}

void EventStreamReader::fail(ErrorPtr error)
{
    if (!ended_)
        failWith(std::move(error));
}

bool EventStreamReader::handleLine(QByteArrayView line)
{
    // Blank lines only separate events.
    if (line.isEmpty())
        return true;
    if (status_ != 200) {
        kept_.append(line);
        kept_.append('\n');
        return true;
    }
    if (Logging::network().isEnabled())
        Logging::network().debug(QStringLiteral("[GeminiClient] Stream response: %1").arg(QString::fromUtf8(line)));
    if (!line.startsWith("data:")) {
        kept_.append(line);
        return true;
    }
    const QByteArrayView json = line.sliced(5);
    if (!isValidUtf8(json)) {
        failWith(std::make_shared<LibraryError>(QString::fromUtf8(texts::notUtf8)));
        return false;
    }
    try {
        handlers_.event(json);
    } catch (...) {
        failWith(currentError());
        return false;
    }
    return true;
}

void EventStreamReader::failWith(ErrorPtr error)
{
    ended_ = true;
    handlers_.fail(std::move(error));
}

void EventStreamReader::finishWithServerError(const QByteArray& text)
{
    try {
        const QByteArray bytes = GeminiService::jsonData(text);
        failWith(std::make_shared<RPCError>(coding::decode<RPCError>(bytes)));
    } catch (...) {
        failWith(currentError());
    }
}

} // namespace gemini::detail

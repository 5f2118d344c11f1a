#include "FakePasteboard.h"

namespace platform::fake {

std::optional<QString> FakePasteboard::text() const
{
    for (const auto& [type, data] : contents_.formats) {
        if (type.startsWith(QLatin1String("text/plain")))
            return QString::fromUtf8(data);
    }
    return std::nullopt;
}

void FakePasteboard::setText(const QString& text)
{
    setContents(textContents(text));
}

void FakePasteboard::clear()
{
    setContents({});
}

void FakePasteboard::setContents(const Contents& contents)
{
    contents_ = contents;
    ++changeCount_;
    writes.append(contents);
}

void FakePasteboard::putFromOtherClient(const Contents& contents)
{
    contents_ = contents;
    ++changeCount_;
}

void FakePasteboard::putTextFromOtherClient(const QString& text)
{
    putFromOtherClient(textContents(text));
}

Pasteboard::Contents FakePasteboard::textContents(const QString& text)
{
    return Contents{{{QString::fromLatin1(kTextType), text.toUtf8()}}};
}

} // namespace platform::fake

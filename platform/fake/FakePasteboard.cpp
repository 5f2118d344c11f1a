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
    ours_ = !contents.isEmpty();
    requesters.clear();
    writes.append(contents);
}

Pasteboard::Ownership FakePasteboard::lastTakenBy(quint64 window) const
{
    for (auto it = takings_.crbegin(); it != takings_.crend(); ++it) {
        if (window == 0 || it->window == kFocusedApplication || sameClient(it->window, window))
            return it->ownership;
    }
    return {};
}

bool FakePasteboard::fetchedByClientOf(quint64 window) const
{
    if (everyoneFetches)
        return true;
    for (quint64 requester : requesters) {
        if (window == 0 || sameClient(requester, window))
            return true;
    }
    return false;
}

std::optional<QString> FakePasteboard::primaryTextOf(quint64 window) const
{
    if (!primary || (window != 0 && !sameClient(primaryOwner, window)))
        return std::nullopt;
    return primary;
}

void FakePasteboard::putFromOtherClient(const Contents& contents, quint64 window)
{
    contents_ = contents;
    ours_ = false;
    takings_.append(Taking{window, Ownership{window, ++time_}});
}

void FakePasteboard::putTextFromOtherClient(const QString& text, quint64 window)
{
    putFromOtherClient(textContents(text), window);
}

Pasteboard::Contents FakePasteboard::textContents(const QString& text)
{
    return Contents{{{QString::fromLatin1(kTextType), text.toUtf8()}}};
}

} // namespace platform::fake

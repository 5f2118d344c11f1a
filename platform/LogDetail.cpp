#include "LogDetail.h"

#include <QTextBoundaryFinder>

namespace platform {

namespace {

constexpr char16_t kEllipsis = u'\u2026';

} // namespace

QString boundedLogDetail(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool inSpaceRun = false;
    for (const QChar ch : text) {
        if (ch.isSpace()) {
            if (!inSpaceRun)
                out.append(u' ');
            inSpaceRun = true;
        } else {
            out.append(ch);
            inSpaceRun = false;
        }
    }

    // Each grapheme takes at least one UTF-16 unit, so a short text cannot be over.
    if (out.size() <= kLogDetailMaxGraphemes)
        return out;
    // Cut between user-perceived characters, never inside an emoji or a
    // combining sequence.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, out);
    qsizetype end = 0;
    for (int i = 0; i < kLogDetailMaxGraphemes; ++i) {
        end = graphemes.toNextBoundary();
        if (end < 0 || end >= out.size())
            return out;
    }
    out.truncate(end);
    out.append(kEllipsis);
    return out;
}

} // namespace platform

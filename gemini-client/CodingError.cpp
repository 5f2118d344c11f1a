#include "CodingError.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

CodingPath::CodingPath(std::initializer_list<QString> keys)
{
    for (const QString& key : keys)
        appendKey(key);
}

QString CodingPath::toString() const
{
    QString text;
    for (const Element& element : elements_) {
        if (element.index >= 0) {
            text += u'[' + QString::number(element.index) + u']';
        } else {
            if (!text.isEmpty())
                text += u'.';
            text += element.key;
        }
    }
    return text;
}

namespace {
QString withPath(const QString& description, const CodingPath& path)
{
    if (path.isEmpty())
        return description;
    return description + QStringLiteral(" (at %1)").arg(path.toString());
}
} // namespace

QString DecodingError::description() const
{
    QString text = withPath(debugDescription_, codingPath_);
    if (!underlying_.isEmpty())
        text += QStringLiteral(": ") + underlying_;
    return text;
}

QString EncodingError::description() const
{
    return withPath(debugDescription_, codingPath_);
}

QString InvalidCandidateError::description() const
{
    const char* text = kind_ == Kind::emptyContent ? texts::candidateEmpty : texts::candidateMalformed;
    return QString::fromUtf8(text).arg(underlying_.description());
}

} // namespace gemini

#include "Vellox/settings/LocalDebugConfig.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringDecoder>

namespace LocalDebugConfig {

namespace {

const char* const kDebugFileName = ".vellox-local-debug.env";
const QChar kCommentMarker = u'#';
const QChar kSeparator = u'=';

bool parseTruthy(const QString& value)
{
    const QString normalized = value.trimmed().toLower();
    return normalized == u"1" || normalized == u"true" || normalized == u"yes";
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

QList<QStringView> splitLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineBreak(text[i])) {
            lines.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    lines.append(text.sliced(start));
    return lines;
}

// At most two non-empty pieces around the first separator that has text
// before it: a leading "=" is passed over, and a line ending in "=" gives one
// piece. The second piece keeps any further "=".
QList<QStringView> splitKeyValue(QStringView line)
{
    QList<QStringView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size() && pieces.isEmpty(); ++i) {
        if (line[i] != kSeparator)
            continue;
        if (i > start)
            pieces.append(line.sliced(start, i - start));
        start = i + 1;
    }
    if (start < line.size())
        pieces.append(line.sliced(start));
    return pieces;
}

std::optional<QString> readUtf8File(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QHash<QString, QString> localFileValues()
{
    QHash<QString, QString> values;
    const std::optional<QString> text = readUtf8File(QDir::current().filePath(QString::fromLatin1(kDebugFileName)));
    if (!text)
        return values;
    for (QStringView rawLine : splitLines(*text)) {
        const QStringView line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(kCommentMarker))
            continue;
        const QList<QStringView> pieces = splitKeyValue(line);
        if (pieces.size() != 2)
            continue;
        values.insert(pieces[0].trimmed().toString(), pieces[1].trimmed().toString());
    }
    return values;
}

// getenv would match "A=B" against the entry "A=B=…"; such names are never
// variable names.
bool isEnvironmentName(const QString& name)
{
    return !name.isEmpty() && !name.contains(kSeparator) && !name.contains(QChar(u'\0'));
}

} // namespace

bool isEnabled(const QString& name)
{
    if (isEnvironmentName(name)) {
        const QByteArray variable = name.toLocal8Bit();
        if (qEnvironmentVariableIsSet(variable.constData()) &&
            parseTruthy(qEnvironmentVariable(variable.constData())))
            return true;
    }
    const QHash<QString, QString> fileValues = localFileValues();
    const auto it = fileValues.constFind(name);
    return it != fileValues.constEnd() && parseTruthy(it.value());
}

} // namespace LocalDebugConfig

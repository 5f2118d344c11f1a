#include "MockProvider.h"

#include <QRegularExpression>

QCoro::Task<QString> MockProvider::transform(QString text, AITransformMode mode) const
{
    co_return rewrite(text, mode);
}

QString MockProvider::rewrite(const QString& text, const AITransformMode& mode)
{
    static const QRegularExpression whitespaceRuns(QStringLiteral("\\s+"));
    QString body = QString(text).replace(whitespaceRuns, QStringLiteral(" ")).trimmed();
    if (body.isEmpty())
        body = QStringLiteral("selected text");
    if (mode.isCommand()) {
        const QString instruction = mode.instruction().trimmed();
        return instruction.isEmpty() ? body : instruction + QStringLiteral(": ") + body;
    }
    const TonePreset& preset = mode.preset();
    const auto legacy = preset.legacyToneId();
    return preset.name + QStringLiteral(": ") + (legacy ? applyTone(body, *legacy) : body);
}

QString MockProvider::applyTone(const QString& text, ToneId tone)
{
    QString out = text;
    switch (tone) {
    case ToneId::professional: {
        static const QRegularExpression asap(QStringLiteral("\\bASAP\\b"));
        out.replace(asap, QStringLiteral("at your earliest convenience"));
        break;
    }
    case ToneId::casual: {
        static const QRegularExpression please(QStringLiteral("\\bplease\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
        out.replace(please, QStringLiteral("could you"));
        if (out.endsWith(QLatin1Char('.')))
            out[out.size() - 1] = QLatin1Char('!');
        break;
    }
    case ToneId::friendly:
        out.prepend(QStringLiteral("Thanks for sharing. "));
        break;
    case ToneId::concise: {
        static const QRegularExpression fillers(QStringLiteral("\\b(just|really|very|actually|basically)\\b\\s*"),
                                                QRegularExpression::CaseInsensitiveOption);
        out.remove(fillers);
        out = out.trimmed();
        break;
    }
    case ToneId::assertive: {
        static const QRegularExpression maybe(QStringLiteral("\\bmaybe\\b"), QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression think(QStringLiteral("\\bI think\\b"), QRegularExpression::CaseInsensitiveOption);
        out.replace(maybe, QStringLiteral("please"));
        out.replace(think, QStringLiteral("I recommend"));
        break;
    }
    }
    return out;
}

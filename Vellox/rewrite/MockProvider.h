#pragma once

#include "Vellox/rewrite/AIProviderType.h"
#include "Vellox/settings/ToneId.h"

// Rewrites locally by a few text rules; never fails.
class MockProvider final : public AIProviderType {
public:
    QString id() const override { return QStringLiteral("mock"); }
    QString label() const override { return QStringLiteral("Local mock"); }
    QCoro::Task<QString> transform(QString text, AITransformMode mode) const override;

    // The answer transform() gives, computed at once.
    static QString rewrite(const QString& text, const AITransformMode& mode);
    static QString applyTone(const QString& text, ToneId tone);
};

#pragma once

#include "Vellox/rewrite/AITransformMode.h"

#include <QCoroTask>
#include <QString>

// One AI provider, built for one rewrite and dropped after it.
class AIProviderType {
public:
    virtual ~AIProviderType() = default;

    virtual QString id() const = 0;
    virtual QString label() const = 0;
    // The rewritten text, trimmed; throws ProviderAIError, or a transport or
    // configuration error, on failure. Runs on the calling thread's event
    // loop without blocking it.
    virtual QCoro::Task<QString> transform(QString text, AITransformMode mode) const = 0;
};

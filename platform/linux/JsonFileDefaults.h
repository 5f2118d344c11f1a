#pragma once

#include "platform/Defaults.h"

#include <QMutex>
#include <QVariantMap>

namespace platform::linuxbackend {

// The user defaults as one JSON file, cached in memory and rewritten
// atomically after every change. A file that does not parse is moved aside to
// "<file>.corrupt" and the defaults start empty, so nothing of it is lost. A
// file that exists but cannot be read (another owner, no permission) is never
// written over: the defaults work in memory only, with one warning.
class JsonFileDefaults final : public Defaults {
public:
    explicit JsonFileDefaults(QString filePath);

    // ${XDG_CONFIG_HOME:-~/.config}/vellox/defaults.json
    static QString standardFilePath();

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QStringList keys() const override;

    QString filePath() const { return filePath_; }

private:
    void load();
    void persistLocked();

    const QString filePath_;
    mutable QMutex mutex_;
    QVariantMap values_;
    bool writable_ = true;
};

} // namespace platform::linuxbackend

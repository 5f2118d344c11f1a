#pragma once

#include "platform/CredentialStore.h"

#include <QMutex>
#include <QString>

namespace platform::linuxbackend {

// Credentials in one JSON file readable by its owner only (mode 0600), for
// sessions where no Secret Service answers. The file is read on every call, so
// another process's changes are seen, and replaced atomically on every change.
// Its folder is made 0700 and narrowed when found wider. A file that does not
// parse is narrowed to 0600 and moved aside to "<file>.corrupt", older copies
// moving on to "<file>.corrupt.1" and "<file>.corrupt.2", the oldest going;
// a file that exists but cannot be read makes every call fail instead.
//
// Format: {"items": [{"service": "...", "account": "...", "secret": "<base64>"}]}
class FileCredentialStore final : public CredentialStore {
public:
    explicit FileCredentialStore(QString filePath);

    // ${XDG_DATA_HOME:-~/.local/share}/vellox/credentials.json
    static QString standardFilePath();

    ReadResult read(const QString& service, const QString& account, bool allowInteraction) override;
    Status store(const QString& service, const QString& account, const QByteArray& secret) override;
    Status remove(const QString& service, const QString& account) override;

    const QString& filePath() const { return filePath_; }

private:
    const QString filePath_;
    QMutex mutex_;
};

} // namespace platform::linuxbackend

#pragma once

#include <QByteArray>
#include <QIODevice>

namespace platform {

// A request body that can be read once only. Qt's HTTP layer quietly sends a
// request again when its connection closed before any answer came; a request
// that must go out once (it costs the user and may act twice) hands Qt this
// body, so the second send fails instead. Send it with a Content-Length and
// DoNotBufferUploadDataAttribute, else Qt buffers it and re-sends the copy.
class OneShotBody final : public QIODevice {
    Q_OBJECT
public:
    explicit OneShotBody(QByteArray bytes, QObject* parent = nullptr);

    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 position_ = 0;
};

} // namespace platform

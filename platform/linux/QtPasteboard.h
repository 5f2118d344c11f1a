#pragma once

#include "platform/Pasteboard.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QMimeData;

namespace platform::linuxbackend {

// The CLIPBOARD selection through QClipboard. While we own it, the event
// loop answers other clients' requests for the data.
class QtPasteboard final : public QObject, public Pasteboard {
    Q_OBJECT
public:
    QtPasteboard();

    std::optional<QString> text() const override;
    void setText(const QString& text) override;
    void clear() override;
    Contents contents() const override;
    void setContents(const Contents& contents) override;
    quint64 changeCount() const override { return changeCount_; }
    bool ourDataWasFetched() const override;

private:
    void install(QMimeData* data);

    quint64 changeCount_ = 0;
    std::shared_ptr<bool> fetched_;
};

} // namespace platform::linuxbackend

#pragma once

#include "platform/Pasteboard.h"

namespace platform::fake {

// An in-memory clipboard that records every write.
class FakePasteboard final : public Pasteboard {
public:
    static constexpr const char* kTextType = "text/plain;charset=utf-8";

    std::optional<QString> text() const override;
    void setText(const QString& text) override;
    void clear() override;
    Contents contents() const override { return contents_; }
    void setContents(const Contents& contents) override;
    quint64 changeCount() const override { return changeCount_; }
    bool ourDataWasFetched() const override { return fetched; }

    // What another application's copy does: replaces the clipboard without
    // counting as our write.
    void putFromOtherClient(const Contents& contents);
    void putTextFromOtherClient(const QString& text);
    static Contents textContents(const QString& text);

    // Every state the clipboard was put in by us, in order.
    QList<Contents> writes;
    bool fetched = true;

private:
    Contents contents_;
    quint64 changeCount_ = 0;
};

} // namespace platform::fake

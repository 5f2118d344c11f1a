#pragma once

#include "platform/Pasteboard.h"

#include <QList>

namespace platform::fake {

// An in-memory clipboard that records every write. Window ids follow the X
// habit: the bits above kClientShift name the client that made the window.
class FakePasteboard final : public Pasteboard {
public:
    static constexpr const char* kTextType = "text/plain;charset=utf-8";
    static constexpr int kClientShift = 21;
    // The front window of FakeWorkspace, and a clipboard manager's window.
    static constexpr quint64 kFrontWindow = 0x400001;
    static constexpr quint64 kManagerWindow = 0x600003;
    static constexpr quint64 kFocusedApplication = 0;

    std::optional<QString> text() const override;
    void setText(const QString& text) override;
    void clear() override;
    Contents contents() const override { return contents_; }
    void setContents(const Contents& contents) override;
    Ownership lastTakenBy(quint64 window) const override;
    bool fetchedByClientOf(quint64 window) const override;
    void notePasteChord() override { ++pasteChordsNoted; }
    bool ownedByUs() const override { return ours_ && !stolenBeforePaste; }
    std::optional<QString> primaryTextOf(quint64 window) const override;

    // What another application's copy does: replaces the clipboard without
    // counting as our write. By default the focused application copies,
    // whichever window that is (the workspace may be a real one).
    void putFromOtherClient(const Contents& contents, quint64 window = kFocusedApplication);
    void putTextFromOtherClient(const QString& text, quint64 window = kFocusedApplication);
    static Contents textContents(const QString& text);
    static bool sameClient(quint64 a, quint64 b) { return a >> kClientShift == b >> kClientShift; }

    // Every state the clipboard was put in by us, in order.
    QList<Contents> writes;
    // Windows whose clients asked for our data since our last write.
    QList<quint64> requesters;
    // How often the paste chord was noted.
    int pasteChordsNoted = 0;
    // Every client fetches at once, as a paste target that is never slow.
    bool everyoneFetches = true;
    // Another client takes the clipboard between our write and the chord.
    bool stolenBeforePaste = false;
    // The primary selection and the window that owns it.
    std::optional<QString> primary;
    quint64 primaryOwner = kFrontWindow;

private:
    struct Taking {
        quint64 window;
        Ownership ownership;
    };
    Contents contents_;
    bool ours_ = false;
    quint32 time_ = 0;
    QList<Taking> takings_;
};

} // namespace platform::fake

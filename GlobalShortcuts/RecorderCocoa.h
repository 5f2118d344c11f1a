#pragma once

#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

#include <QLineEdit>
#include <QPointer>

#include <functional>
#include <optional>

namespace GlobalShortcuts {

// The control with which a user sets the shortcut of one name. At rest it shows
// the stored shortcut, with a clear button when there is one. Taking the
// keyboard focus starts recording: every global shortcut is paused, the next
// key press is checked (it needs Control, Option or Command unless it is a
// function key; the application's menu, the system and the platform may
// already use it) and stored, and the control gives up focus. Escape, Tab, a
// click elsewhere or the window losing focus end recording without a change.
class RecorderCocoa : public QLineEdit {
    Q_OBJECT
public:
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;

    static constexpr int minimumWidth = 130;

    // onChange runs after a shortcut was stored (with it) or cleared (with
    // none); it is fixed for the control's life.
    explicit RecorderCocoa(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    ~RecorderCocoa() override;

    const Name& shortcutName() const { return shortcutName_; }
    // Another name shows that name's shortcut; the same name changes nothing.
    void setShortcutName(const Name& name);

    bool isRecording() const { return eventMonitor_ != nullptr; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setStringValue(const Name& name);
    void setUpEvents();
    void startRecording();
    void endRecording();
    void preventBecomingKey();
    void giveUpFocus();
    void restartRecording();
    void controlTextDidChange();
    void clearField();
    bool handleRecordingEvent(QObject* receiver, QEvent* event);
    bool handleKeyPress(QKeyEvent* event);
    QWidget* conflictMenu() const;
    int showAlert(const QString& title, const std::optional<QString>& informativeText, const QStringList& buttons);
    void setCaretHidden(bool hidden);
    // The modifiers held while recording stand in the field until a key
    // completes them or they are let go.
    void showModifiers(ModifierFlags flags);

    Name shortcutName_;
    const OnChange onChange_;
    QPointer<LocalEventMonitor> eventMonitor_;
    class CaretStyle;
    CaretStyle* caretStyle_ = nullptr;
    bool guardingFocus_ = false;
    bool showingModifiers_ = false;
    Qt::FocusPolicy focusPolicy_ = Qt::StrongFocus;
};

} // namespace GlobalShortcuts

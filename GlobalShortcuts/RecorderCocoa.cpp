#include "RecorderCocoa.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/Constants.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/KeyTables.h"
#include "GlobalShortcuts/Storage.h"
#include "GlobalShortcuts/Texts.h"

#include "platform/Alerts.h"
#include "platform/Beeper.h"
#include "platform/NotificationBus.h"
#include "platform/PhysicalKeys.h"
#include "platform/Platform.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QTimer>

namespace GlobalShortcuts {

namespace {

// A mouse-up this close to the control still counts as inside it.
constexpr int kClickSlop = 3;
constexpr int kDefaultHeight = 24;
constexpr qint64 kF12KeyCode = 111;
// Function, Command, Option, Control and Caps Lock: what is left must be Option
// alone for the sandbox rule to refuse a shortcut.
constexpr ModifierFlags kOptionRuleMask = 0x9D0000;
constexpr int kForceUseAnswer = 1;

constexpr Qt::KeyboardModifiers kModifierKeys =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
constexpr Qt::KeyboardModifiers kCommandModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

QString menuTitle(const QAction* action)
{
    QString title = action->text();
    title.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    title.remove(QLatin1Char('&'));
    title.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return title;
}

// A key that only changes the modifiers: on X a modifier arrives as a key
// press of its own, unlike the key-down events recording is made of.
// Answers the flag the key adds (0 for Caps Lock and Fn), or none for any
// other key.
std::optional<ModifierFlags> modifierKeyFlag(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Shift: return ModifierFlag::shift;
    case Qt::Key_Control: return ModifierFlag::control;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return ModifierFlag::option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return ModifierFlag::command;
    case Qt::Key_CapsLock:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch: return ModifierFlags(0);
    default: break;
    }
    // The physical modifier keys, whatever the layout made of them: right
    // command, command, shift, caps lock, option, control, right shift, right
    // option, right control and function.
    const auto keyCode = platform::physical_keys::virtualKeyForNativeScanCode(event->nativeScanCode());
    if (keyCode && *keyCode >= 54 && *keyCode <= 63)
        return ModifierFlags(0);
    return std::nullopt;
}

void postActiveStatus(bool active)
{
    if (const auto& bus = platform::Platform::current().notifications)
        bus->post(recorderActiveStatusDidChange, {{QStringLiteral("isActive"), active}});
}

} // namespace

// The caret is hidden while recording: the field shows a shortcut, not text.
class RecorderCocoa::CaretStyle : public QProxyStyle {
public:
    bool hidden = false;

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TextCursorWidth && hidden)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

RecorderCocoa::RecorderCocoa(const Name& name, OnChange onChange, QWidget* parent)
    : QLineEdit(parent)
    , shortcutName_(name)
    , onChange_(std::move(onChange))
{
    resize(minimumWidth, kDefaultHeight);
    setMinimumWidth(minimumWidth);
    setPlaceholderText(Texts::text(QStringLiteral("record_shortcut")));
    setAlignment(Qt::AlignCenter);
    setClearButtonEnabled(true);
    // The clear button takes its name from its action, for screen readers.
    if (auto* clear = findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(Texts::text(QStringLiteral("clear_shortcut")));
    // Nothing but a recorded shortcut may become the text.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    caretStyle_ = new CaretStyle;
    caretStyle_->setParent(this);
    setStyle(caretStyle_);
    connect(this, &QLineEdit::textEdited, this, &RecorderCocoa::controlTextDidChange);
    setStringValue(shortcutName_);
    setUpEvents();
}

RecorderCocoa::~RecorderCocoa()
{
    if (isRecording())
        endRecording();
}

void RecorderCocoa::setShortcutName(const Name& name)
{
    if (name.rawValue() == shortcutName_.rawValue())
        return;
    shortcutName_ = name;
    setStringValue(shortcutName_);
}

QSize RecorderCocoa::sizeHint() const
{
    return {minimumWidth, QLineEdit::sizeHint().height()};
}

QSize RecorderCocoa::minimumSizeHint() const
{
    return {minimumWidth, QLineEdit::minimumSizeHint().height()};
}

void RecorderCocoa::setStringValue(const Name& name)
{
    const auto shortcut = getShortcut(name);
    setText(shortcut ? shortcut->description() : QString());
}

void RecorderCocoa::setUpEvents()
{
    const auto& bus = platform::Platform::current().notifications;
    if (!bus)
        return;
    bus->observe(shortcutByNameDidChange, this, [this](const QVariantMap& userInfo) {
        const QVariant value = userInfo.value(QStringLiteral("name"));
        if (value.metaType() == QMetaType::fromType<Name>() && value.value<Name>() == shortcutName_)
            setStringValue(shortcutName_);
    });
}

bool RecorderCocoa::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        preventBecomingKey();
        break;
    case QEvent::WindowDeactivate:
        if (isRecording()) {
            endRecording();
            clearFocus();
        }
        break;
    case QEvent::ParentChange:
        if (isRecording())
            endRecording();
        preventBecomingKey();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void RecorderCocoa::showEvent(QShowEvent* event)
{
    QLineEdit::showEvent(event);
    preventBecomingKey();
}

void RecorderCocoa::preventBecomingKey()
{
    // A window that opens or comes to the front hands its focus to the first
    // focusable control; for one turn of the event loop this is not one, so
    // only a click or Tab starts a recording.
    if (hasFocus() || guardingFocus_)
        return;
    guardingFocus_ = true;
    focusPolicy_ = focusPolicy();
    setFocusPolicy(Qt::NoFocus);
    QTimer::singleShot(0, this, [this] {
        setFocusPolicy(focusPolicy_);
        guardingFocus_ = false;
    });
}

void RecorderCocoa::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (!isRecording())
        startRecording();
}

void RecorderCocoa::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    endRecording();
}

void RecorderCocoa::startRecording()
{
    setPlaceholderText(Texts::text(QStringLiteral("press_shortcut")));
    setCaretHidden(true);
    setPaused(true);
    postActiveStatus(true);
    // Every key comes here while recording, also one that this or another
    // program holds as a hot key: the server hands passive grabs nothing
    // while a client holds the keyboard.
    grabKeyboard();
    auto* monitor = new LocalEventMonitor(
        {QEvent::KeyPress, QEvent::KeyRelease, QEvent::ShortcutOverride, QEvent::MouseButtonRelease},
        [self = QPointer<RecorderCocoa>(this)](QObject* receiver, QEvent* event) {
            return self ? self->handleRecordingEvent(receiver, event) : true;
        },
        this);
    if (eventMonitor_) {
        eventMonitor_->stop();
        eventMonitor_->deleteLater();
    }
    eventMonitor_ = monitor;
    monitor->start();
}

void RecorderCocoa::endRecording()
{
    // The monitor may be the caller (through its filter); it goes later.
    if (eventMonitor_) {
        eventMonitor_->stop();
        eventMonitor_->deleteLater();
        eventMonitor_ = nullptr;
    }
    releaseKeyboard();
    if (showingModifiers_) {
        showingModifiers_ = false;
        setStringValue(shortcutName_);
    }
    setPlaceholderText(Texts::text(QStringLiteral("record_shortcut")));
    setCaretHidden(false);
    setPaused(false);
    postActiveStatus(false);
}

void RecorderCocoa::showModifiers(ModifierFlags flags)
{
    const QString held = symbolicRepresentation(flags);
    if (held.isEmpty()) {
        if (showingModifiers_) {
            showingModifiers_ = false;
            setStringValue(shortcutName_);
        }
        return;
    }
    showingModifiers_ = true;
    setText(held);
}

void RecorderCocoa::setCaretHidden(bool hidden)
{
    if (caretStyle_ && caretStyle_->hidden != hidden) {
        caretStyle_->hidden = hidden;
        update();
    }
}

void RecorderCocoa::giveUpFocus()
{
    if (hasFocus())
        clearFocus();
    else if (isRecording())
        endRecording();
}

void RecorderCocoa::restartRecording()
{
    setFocus(Qt::OtherFocusReason);
}

void RecorderCocoa::controlTextDidChange()
{
    if (!text().isEmpty())
        return;
    setShortcut(std::nullopt, shortcutName_);
    if (onChange_)
        onChange_(std::nullopt);
    setFocus(Qt::OtherFocusReason);
}

void RecorderCocoa::clearField()
{
    if (text().isEmpty())
        return;
    clear();
    controlTextDidChange();
}

QWidget* RecorderCocoa::conflictMenu() const
{
    if (QWidget* menu = mainMenu())
        return menu;
    return window() ? window()->findChild<QMenuBar*>() : nullptr;
}

int RecorderCocoa::showAlert(const QString& title, const std::optional<QString>& informativeText,
                             const QStringList& buttons)
{
    const auto& alerts = platform::Platform::current().alerts;
    if (!alerts)
        return platform::Alerts::dismissed;
    QPointer<QWidget> owner = window();
    return alerts->ask({title, informativeText, buttons}, owner);
}

bool RecorderCocoa::handleRecordingEvent(QObject* receiver, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton)
            return false;
        const QPoint local = mapFromGlobal(mouse->globalPosition().toPoint());
        if (!rect().adjusted(-kClickSlop, -kClickSlop, kClickSlop, kClickSlop).contains(local)) {
            giveUpFocus();
            return false;
        }
        // The clear button inside the field takes its click.
        auto* widget = qobject_cast<QWidget*>(receiver);
        if (widget && widget != this && isAncestorOf(widget))
            return false;
        return true;
    }
    case QEvent::ShortcutOverride:
        // Claiming the key keeps the application's own shortcuts from firing
        // and brings the press here.
        event->accept();
        return true;
    case QEvent::KeyPress:
        return handleKeyPress(static_cast<QKeyEvent*>(event));
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto flag = modifierKeyFlag(key);
        if (!flag)
            return false;
        showModifiers(modifierFlagsFromQt(key->modifiers()) & ~*flag);
        return true;
    }
    default:
        return false;
    }
}

bool RecorderCocoa::handleKeyPress(QKeyEvent* event)
{
    QPointer<RecorderCocoa> self(this);
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool plain = !(modifiers & kModifierKeys);
    const bool lacksCommandModifier = !(modifiers & kCommandModifiers);
    const auto beeper = platform::Platform::current().beeper;

    if (const auto flag = modifierKeyFlag(event)) {
        showModifiers(modifierFlagsFromQt(modifiers) | *flag);
        return true;
    }
    if (plain && event->key() == Qt::Key_Tab) {
        // On to the next control. The press reaches the window, not the
        // control, so passing it on after giving up focus would bring the
        // focus straight back here.
        focusNextPrevChild(true);
        giveUpFocus();
        return true;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        giveUpFocus();
        return true;
    }
    if (plain && (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)) {
        clearField();
        return true;
    }
    if (lacksCommandModifier && !functionKeys().contains(event->key())) {
        if (beeper)
            beeper->beep();
        return true;
    }
    const auto shortcut = Shortcut::fromEvent(event);
    if (!shortcut) {
        if (beeper)
            beeper->beep();
        return true;
    }

    if (QWidget* menu = conflictMenu()) {
        if (QAction* item = shortcut->menuItemWithMatchingShortcut(menu)) {
            const QString title =
                Texts::text(QStringLiteral("keyboard_shortcut_used_by_menu_item")).arg(menuTitle(item));
            giveUpFocus();
            showAlert(title, std::nullopt, {});
            if (self)
                restartRecording();
            return true;
        }
    }

    if (Constants::refusesOptionOnlyShortcuts(Constants::host())
        && (shortcut->modifiers() & kOptionRuleMask) == ModifierFlag::option) {
        giveUpFocus();
        showAlert(Texts::text(QStringLiteral("keyboard_shortcut_disallowed")), std::nullopt, {});
        if (self)
            restartRecording();
        return true;
    }

    const bool isBareF12 = shortcut->carbonKeyCode() == kF12KeyCode && shortcut->carbonModifiers() == 0;
    if (!isBareF12 && !CarbonHotKeys::system({*shortcut}).isEmpty()) {
        giveUpFocus();
        const int answer = showAlert(Texts::text(QStringLiteral("keyboard_shortcut_used_by_system")),
                                     Texts::text(QStringLiteral("keyboard_shortcuts_can_be_changed")),
                                     {Texts::text(QStringLiteral("ok")), Texts::text(QStringLiteral("force_use_shortcut"))});
        if (!self)
            return true;
        restartRecording();
        if (answer != kForceUseAnswer)
            return true;
    }

    showingModifiers_ = false;
    setText(shortcut->description());
    detail::userDefaultsSet(shortcutName_, *shortcut);
    if (onChange_)
        onChange_(*shortcut);
    if (self)
        giveUpFocus();
    return true;
}

} // namespace GlobalShortcuts

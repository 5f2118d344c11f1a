#include "Vellox/panels/UIWindowCoordinator.h"

#include "Vellox/settings/VelloxLog.h"

#include <QWidget>

#include <array>
#include <utility>

namespace {

constexpr char kIdentifierProperty[] = "velloxWindowIdentifier";
// A titled window at least this large is taken for the settings window.
constexpr int kSettingsLikeMinWidth = 500;
constexpr int kSettingsLikeMinHeight = 420;

using Surface = UIWindowCoordinator::Surface;

constexpr std::array<std::pair<Surface, const char*>, 6> kRawValues{{
    {Surface::none, "none"},
    {Surface::menuPopover, "menuPopover"},
    {Surface::tonePicker, "tonePicker"},
    {Surface::instructionPanel, "instructionPanel"},
    {Surface::spinner, "spinner"},
    {Surface::settings, "settings"},
}};

// A window drawn without a title bar: frameless, or a popup or tool tip,
// which the window manager never decorates.
bool isTitled(const QWidget* window)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags.testFlag(Qt::FramelessWindowHint))
        return false;
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

} // namespace

const QString UIWindowCoordinator::settingsWindowIdentifier = QStringLiteral("app.vellox.settings.window");
const QString UIWindowCoordinator::menuPopoverWindowIdentifier = QStringLiteral("app.vellox.menu.window");

QString UIWindowCoordinator::rawValue(Surface surface)
{
    for (const auto& [value, raw] : kRawValues) {
        if (value == surface)
            return QString::fromLatin1(raw);
    }
    return {};
}

std::optional<UIWindowCoordinator::Surface> UIWindowCoordinator::surfaceFromRawValue(QStringView raw)
{
    for (const auto& [value, text] : kRawValues) {
        if (raw == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}

UIWindowCoordinator& UIWindowCoordinator::shared()
{
    static UIWindowCoordinator* instance = new UIWindowCoordinator;
    return *instance;
}

void UIWindowCoordinator::setActiveSurface(Surface surface)
{
    activeSurface_ = surface;
    emit activeSurfaceChanged(surface);
}

void UIWindowCoordinator::markSurfaceVisible(Surface surface)
{
    if (activeSurface_ != surface)
        VelloxLog::ui().debug(QStringLiteral("surface visible: %1").arg(rawValue(surface)));
    setActiveSurface(surface);
}

void UIWindowCoordinator::markSurfaceHidden(Surface surface)
{
    if (activeSurface_ == surface)
        setActiveSurface(Surface::none);
    VelloxLog::ui().debug(QStringLiteral("surface hidden: %1").arg(rawValue(surface)));
}

void UIWindowCoordinator::closeSettingsWindowIfOpen()
{
    QList<QWidget*> selected;
    for (QWidget* window : registeredWindows()) {
        if (isLikelySettingsWindow(window) && window->isVisible())
            selected.append(window);
    }
    if (!selected.isEmpty()) {
        VelloxLog::ui().debug(QStringLiteral("closing settings before shortcut surface"));
        for (QWidget* window : selected)
            window->close();
    }
    if (activeSurface_ == Surface::settings)
        setActiveSurface(Surface::none);
}

void UIWindowCoordinator::closeMenuPopoverIfOpen()
{
    QList<QWidget*> selected;
    for (QWidget* window : registeredWindows()) {
        if (windowIdentifier(window) == menuPopoverWindowIdentifier && window->isVisible())
            selected.append(window);
    }
    for (QWidget* window : selected)
        window->close();
    if (activeSurface_ == Surface::menuPopover)
        setActiveSurface(Surface::none);
}

void UIWindowCoordinator::registerWindow(QWidget* window)
{
    if (!window)
        return;
    for (const QPointer<QWidget>& known : std::as_const(windows_)) {
        if (known == window)
            return;
    }
    windows_.append(window);
}

QList<QWidget*> UIWindowCoordinator::registeredWindows() const
{
    QList<QWidget*> alive;
    for (const QPointer<QWidget>& window : windows_) {
        if (window)
            alive.append(window);
    }
    return alive;
}

void UIWindowCoordinator::setWindowIdentifier(QWidget* window, const QString& identifier)
{
    window->setProperty(kIdentifierProperty, identifier);
}

QString UIWindowCoordinator::windowIdentifier(const QWidget* window)
{
    return window->property(kIdentifierProperty).toString();
}

bool UIWindowCoordinator::isLikelySettingsWindow(const QWidget* window)
{
    const QString identifier = windowIdentifier(window);
    if (identifier == settingsWindowIdentifier)
        return true;
    if (window->windowTitle().toLower().contains(QLatin1String("settings")))
        return true;
    if (!isTitled(window))
        return false;
    if (identifier == menuPopoverWindowIdentifier)
        return false;
    const QRect frame = window->frameGeometry();
    return frame.width() >= kSettingsLikeMinWidth && frame.height() >= kSettingsLikeMinHeight;
}

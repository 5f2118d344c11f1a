#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>

#include <optional>

class QWidget;

// Records which transient surface shows, and closes the settings window and
// the tray popover before a surface of the shortcut road appears. It decides
// nothing: no surface is refused or delayed because another one shows.
//
// It keeps its own registry of the application's top-level windows instead of
// walking QApplication's widgets, which also hold popups, tool tips and our
// own panels. The shell registers its windows once and stamps the settings
// window and the popover with their identifiers. Main thread only.
class UIWindowCoordinator : public QObject {
    Q_OBJECT
public:
    enum class Surface { none, menuPopover, tonePicker, instructionPanel, spinner, settings };

    static QString rawValue(Surface surface);
    // Exact, case-sensitive match of a raw value.
    static std::optional<Surface> surfaceFromRawValue(QStringView raw);

    static const QString settingsWindowIdentifier;
    static const QString menuPopoverWindowIdentifier;

    static UIWindowCoordinator& shared();

    Surface activeSurface() const { return activeSurface_; }
    void setActiveSurface(Surface surface);

    void markSurfaceVisible(Surface surface);
    void markSurfaceHidden(Surface surface);
    void closeSettingsWindowIfOpen();
    void closeMenuPopoverIfOpen();

    // Adds a top-level window to the registry, in order; it leaves by itself
    // when destroyed. Registering twice keeps one entry.
    void registerWindow(QWidget* window);
    QList<QWidget*> registeredWindows() const;

    // The identifier a window is stamped with (empty when none).
    static void setWindowIdentifier(QWidget* window, const QString& identifier);
    static QString windowIdentifier(const QWidget* window);

    // Whether a window is taken for the settings window: its identifier, a
    // title that says "settings", or the size of one among titled windows.
    static bool isLikelySettingsWindow(const QWidget* window);

signals:
    void activeSurfaceChanged(UIWindowCoordinator::Surface surface);

private:
    UIWindowCoordinator() = default;

    Surface activeSurface_ = Surface::none;
    QList<QPointer<QWidget>> windows_;
};

#pragma once

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QtGlobal>

#include <optional>

class QWidget;

// What the floating panels need of the desktop around them: where the
// selection is, the screens and the pointer, and the other applications. The
// program uses the desktop's own services; tests install a scripted one.
// Main thread only.
class PanelEnvironment : public QObject {
    Q_OBJECT
public:
    enum class Placement { beside, below };

    // The application that had the keyboard when a panel opened.
    struct Application {
        quint64 window = 0;
        qint64 pid = 0;
        QString windowClass;
        QString instanceName;
        friend bool operator==(const Application&, const Application&) = default;
    };

    // A frame for a card of this size next to the selection (or the pointer,
    // or the middle of the screen), inside a screen's visible area.
    virtual QRectF anchoredFrame(QSizeF size, Placement placement) = 0;
    // The visible area of the main screen; none without screens.
    virtual std::optional<QRectF> mainScreenVisibleFrame() const = 0;
    virtual QPointF mouseLocation() const = 0;

    virtual std::optional<Application> frontmostApplication() const = 0;
    virtual bool isThisProcess(const Application& application) const = 0;
    virtual void activate(const Application& application) = 0;
    // Brings this application forward and gives the panel the keyboard.
    virtual void activateThisApplication(QWidget* panel) = 0;
    // Steps this application back. Our panels order themselves out; on a
    // Linux desktop nothing else of ours is hidden with them.
    virtual void hideThisApplication() = 0;

    // The installed environment; the desktop's own until a test installs one.
    static PanelEnvironment& current();
    // Installs `environment` (not owned); nullptr returns to the desktop's.
    static void install(PanelEnvironment* environment);

signals:
    // This application no longer holds the keyboard.
    void resignedActive();
    // Some application, perhaps this one, became the active one. Desktops
    // that cannot tell never send it; losing the keyboard still does.
    void applicationActivated();
};

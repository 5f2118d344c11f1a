#include "MenuTracking.h"

#include "GlobalShortcuts/CarbonHotKeys.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QSet>

namespace GlobalShortcuts {

namespace {

// Follows every QMenu of the application as it shows and hides; the first to
// open and the last to close switch the hot keys (submenus count as open
// menus of their own).
class MenuTracker : public QObject {
public:
    using QObject::QObject;

    bool isOpen() const { return !open_.isEmpty(); }
    void forget() { open_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMenu*>(watched) && !open_.contains(watched)) {
            const bool wasOpen = isOpen();
            open_.insert(watched);
            connect(watched, &QObject::destroyed, this, &MenuTracker::closed, Qt::UniqueConnection);
            if (!wasOpen)
                CarbonHotKeys::updateEventHandler();
        } else if (event->type() == QEvent::Hide) {
            closed(watched);
        }
        return false;
    }

private:
    void closed(QObject* menu)
    {
        if (open_.remove(menu) && !isOpen())
            CarbonHotKeys::updateEventHandler();
    }

    QSet<QObject*> open_;
};

struct MenuTrackingState {
    QPointer<MenuTracker> tracker;
    QPointer<QWidget> mainMenu;
};

MenuTrackingState& menuTrackingState()
{
    static MenuTrackingState instance;
    return instance;
}

} // namespace

void initialize()
{
    MenuTrackingState& s = menuTrackingState();
    QCoreApplication* app = QCoreApplication::instance();
    if (s.tracker || !app)
        return;
    s.tracker = new MenuTracker(app);
    app->installEventFilter(s.tracker);
}

bool isMenuOpen()
{
    return menuTrackingState().tracker && menuTrackingState().tracker->isOpen();
}

void setMainMenu(QWidget* menu)
{
    menuTrackingState().mainMenu = menu;
}

QWidget* mainMenu()
{
    return menuTrackingState().mainMenu;
}

void detail::resetMenuTracking()
{
    if (menuTrackingState().tracker)
        menuTrackingState().tracker->forget();
    menuTrackingState().mainMenu = nullptr;
}

} // namespace GlobalShortcuts

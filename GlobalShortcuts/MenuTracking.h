#pragma once

class QWidget;

namespace GlobalShortcuts {

// Starts following our own menus (any QMenu that shows), once per process and
// only once the application object exists. Declaring a Name runs it.
void initialize();

// Whether one of our menus is open now.
bool isMenuOpen();

// The menu checked for conflicts when a shortcut is recorded: a QMenu or
// QMenuBar, such as the status icon's menu. Without one, the menu bar of the
// recorder's own window is checked, if it has one.
void setMainMenu(QWidget* menu);
QWidget* mainMenu();

namespace detail {
void resetMenuTracking();
} // namespace detail

} // namespace GlobalShortcuts

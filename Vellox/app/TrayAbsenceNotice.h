#pragma once

#include <QString>

// Tells the user, once, that no system tray is there to hold the icon: as a
// desktop notification where a notification server answers, otherwise in a
// small window of its own.
namespace TrayAbsenceNotice {

QString title();
QString text();

void show();

} // namespace TrayAbsenceNotice

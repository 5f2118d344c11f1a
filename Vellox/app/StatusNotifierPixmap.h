#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>

class QDBusArgument;
class QIcon;

// One image of a StatusNotifierItem icon, as the protocol sends it (iiay):
// width, height and ARGB32 pixels in network byte order.
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray data;

    // The icon at each of its sizes, at one device pixel per pixel.
    static QList<StatusNotifierPixmap> fromIcon(const QIcon& icon);
    // Makes the type and its list known to the bus; call before exporting.
    static void registerDBusTypes();
};

Q_DECLARE_METATYPE(StatusNotifierPixmap)

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap);

#include "Vellox/app/StatusNotifierPixmap.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace {

// Sizes hosts commonly ask for, used when the icon names none of its own.
constexpr int kFallbackSides[] = {16, 22, 24, 32, 48};

} // namespace

QList<StatusNotifierPixmap> StatusNotifierPixmap::fromIcon(const QIcon& icon)
{
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) {
        for (int side : kFallbackSides)
            sizes.append(QSize(side, side));
    }
    QList<StatusNotifierPixmap> pixmaps;
    for (const QSize& size : sizes) {
        const QImage image = icon.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        StatusNotifierPixmap pixmap{image.width(), image.height(), {}};
        pixmap.data.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.data.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian<quint32>(row[x], out);
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

void StatusNotifierPixmap::registerDBusTypes()
{
    qDBusRegisterMetaType<StatusNotifierPixmap>();
    qDBusRegisterMetaType<QList<StatusNotifierPixmap>>();
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.data;
    argument.endStructure();
    return argument;
}

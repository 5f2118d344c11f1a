#include "Vellox/panels/SymbolIcons.h"

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <cmath>

// Static libraries drop resources nobody refers to; this reference keeps them.
static void initIconResources()
{
    Q_INIT_RESOURCE(panels);
}

namespace SymbolIcons {

namespace {

bool useTheme = true;

struct Row {
    const char* symbol;
    const char* theme;
    const char* fallback;
};

// Theme names come from the freedesktop standard icon names where one fits,
// else from names GNOME's and KDE's themes share.
const Row kRows[] = {
    {"wand.and.stars", "tools-wizard-symbolic", "wand"},
    {"text.bubble", "mail-message-new-symbolic", "text-bubble"},
    {"text.cursor", "insert-text-symbolic", "text-cursor"},
    {"briefcase.fill", "applications-office-symbolic", "briefcase"},
    {"cup.and.saucer.fill", "face-cool-symbolic", "cup"},
    {"face.smiling.fill", "face-smile-symbolic", "smile"},
    {"face.smiling.inverse", "face-laugh-symbolic", "smile"},
    {"arrow.down.right.and.arrow.up.left", "view-restore-symbolic", "compress"},
    {"arrow.down.to.line", "go-bottom-symbolic", "compress"},
    {"checkmark.seal.fill", "emblem-ok-symbolic", "seal"},
    {"megaphone.fill", "audio-volume-high-symbolic", "megaphone"},
    {"heart.fill", "emblem-favorite-symbolic", "heart"},
    {"arrow.up.forward", "go-next-symbolic", "arrow-up-right"},
    {"hand.wave.fill", "face-wink-symbolic", "hand"},
    {"building.columns.fill", "applications-system-symbolic", "building"},
    {"party.popper.fill", "face-smile-big-symbolic", "sparkles"},
    {"cpu.fill", "applications-engineering-symbolic", "chip"},
    {"wrench.and.screwdriver.fill", "applications-engineering-symbolic", "chip"},
    {"book.fill", "accessories-dictionary-symbolic", "book"},
    {"doc.text.fill", "x-office-document-symbolic", "book"},
    {"doc.text", "x-office-document-symbolic", "book"},
    {"chart.bar.fill", "x-office-spreadsheet-symbolic", "chart"},
    {"dollarsign.circle.fill", "emblem-money-symbolic", "dollar"},
    {"bag.fill", "emblem-money-symbolic", "dollar"},
    {"scalemass.fill", "view-dual-symbolic", "scale"},
    {"list.number", "view-list-ordered-symbolic", "list"},
    {"text.alignleft", "format-justify-left-symbolic", "list"},
    {"headphones", "audio-headphones-symbolic", "headphones"},
    {"questionmark.circle.fill", "help-about-symbolic", "text-bubble"},
    {"bubble.left", "mail-message-new-symbolic", "text-bubble"},
    {"quote.opening", "format-text-bold-symbolic", "text-bubble"},
    {"envelope.fill", "mail-unread-symbolic", "text-bubble"},
    {"envelope", "mail-unread-symbolic", "text-bubble"},
    {"paperplane", "mail-send-symbolic", "arrow-up-right"},
    {"sparkles", "starred-symbolic", "sparkles"},
    {"lightbulb.fill", "dialog-information-symbolic", "sparkles"},
    {"sun.max.fill", "weather-clear-symbolic", "smile"},
    {"moon.fill", "weather-clear-night-symbolic", "smile"},
    {"flame.fill", "dialog-warning-symbolic", "megaphone"},
    {"leaf.fill", "emblem-default-symbolic", "book"},
    {"graduationcap.fill", "accessories-dictionary-symbolic", "book"},
    {"figure.walk", "go-next-symbolic", "list"},
    {"pencil", "document-edit-symbolic", "pencil"},
    {"pencil.and.scribble", "document-edit-symbolic", "pencil"},
    {"highlighter", "document-edit-symbolic", "pencil"},
    {"paintbrush.fill", "applications-graphics-symbolic", "pencil"},
    {"signature", "document-edit-symbolic", "pencil"},
    {"textformat", "format-text-bold-symbolic", "text-cursor"},
    {"character.cursor.ibeam", "insert-text-symbolic", "text-cursor"},
};

constexpr char kDefaultTheme[] = "document-edit-symbolic";
constexpr char kDefaultFallback[] = "pencil";

QImage tinted(QImage image, const QColor& color)
{
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), color);
    return image;
}

QImage render(const QString& symbol, int devicePixels)
{
    const Mapping mapping = mappingFor(symbol);
    if (useTheme) {
        for (const QString& name : mapping.themeNames) {
            const QIcon icon = QIcon::fromTheme(name);
            if (!icon.isNull())
                return icon.pixmap(QSize(devicePixels, devicePixels)).toImage().convertToFormat(
                    QImage::Format_ARGB32_Premultiplied);
        }
    }
    QImage image(devicePixels, devicePixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    static const bool resourcesReady = (initIconResources(), true);
    Q_UNUSED(resourcesReady);
    QSvgRenderer renderer(QStringLiteral(":/vellox/panels/icons/%1.svg").arg(mapping.fallback));
    QPainter p(&image);
    renderer.render(&p);
    return image;
}

} // namespace

Mapping mappingFor(const QString& symbol)
{
    for (const Row& row : kRows) {
        if (symbol == QLatin1String(row.symbol)) {
            QString theme = QString::fromLatin1(row.theme);
            // Themes without symbolic icons still have the plain name.
            return {{theme, theme.chopped(int(sizeof("-symbolic")) - 1)}, QString::fromLatin1(row.fallback)};
        }
    }
    return {{QString::fromLatin1(kDefaultTheme)}, QString::fromLatin1(kDefaultFallback)};
}

void setUseThemeIcons(bool use)
{
    useTheme = use;
}

void paint(QPainter& painter, const QRectF& rect, const QString& symbol, double pixelSize, const QColor& color)
{
    const double dpr = painter.device()->devicePixelRatioF();
    const int devicePixels = int(std::ceil(pixelSize * dpr));
    static QHash<QString, QImage> cache;
    const QString key = QStringLiteral("%1/%2/%3/%4").arg(symbol).arg(devicePixels).arg(color.rgba()).arg(useTheme);
    auto it = cache.find(key);
    if (it == cache.end()) {
        if (cache.size() > 256)
            cache.clear();
        QImage image = tinted(render(symbol, devicePixels), color);
        image.setDevicePixelRatio(dpr);
        it = cache.insert(key, image);
    }
    const QSizeF size(pixelSize, pixelSize);
    const QPointF topLeft(rect.center().x() - size.width() / 2, rect.center().y() - size.height() / 2);
    painter.drawImage(QRectF(topLeft, size), *it);
}

} // namespace SymbolIcons

#include "QtPasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>

namespace platform::linuxbackend {

namespace {

// Bytes a single format may bring along when the clipboard is saved;
// anything bigger is left out rather than held in memory twice.
constexpr qsizetype kMaxFormatBytes = 64 * 1024 * 1024;

// Notes when the data is asked for. Qt asks our mime data whenever another
// client requests the clipboard, so this tells that the paste target has
// fetched what we put there.
class RecordingMimeData final : public QMimeData {
public:
    explicit RecordingMimeData(std::shared_ptr<bool> fetched)
        : fetched_(std::move(fetched))
    {
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        *fetched_ = true;
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::shared_ptr<bool> fetched_;
};

// Formats Qt derives from others or uses to talk to itself; putting them
// back by hand would confuse the owner bookkeeping.
bool isSyntheticFormat(const QString& format)
{
    return format.startsWith(QLatin1String("application/x-qt-")) || format == QLatin1String("TARGETS")
        || format == QLatin1String("MULTIPLE") || format == QLatin1String("TIMESTAMP")
        || format == QLatin1String("SAVE_TARGETS");
}

} // namespace

QtPasteboard::QtPasteboard()
    : fetched_(std::make_shared<bool>(true))
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ++changeCount_;
        });
    }
}

std::optional<QString> QtPasteboard::text() const
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtPasteboard::setText(const QString& text)
{
    auto* data = new RecordingMimeData(fetched_ = std::make_shared<bool>(false));
    data->setText(text);
    install(data);
}

void QtPasteboard::clear()
{
    *fetched_ = true;
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

Pasteboard::Contents QtPasteboard::contents() const
{
    Contents saved;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return saved;
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        if (isSyntheticFormat(format))
            continue;
        const QByteArray bytes = data->data(format);
        if (bytes.size() > kMaxFormatBytes)
            continue;
        saved.formats.append({format, bytes});
    }
    // Qt keeps an image of its own process as an object, not as bytes.
    const bool hasImageBytes = std::any_of(saved.formats.cbegin(), saved.formats.cend(),
                                           [](const auto& f) { return f.first.startsWith(QLatin1String("image/")); });
    if (data->hasImage() && !hasImageBytes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (qvariant_cast<QImage>(data->imageData()).save(&buffer, "PNG"))
            saved.formats.append({QStringLiteral("image/png"), png});
    }
    return saved;
}

void QtPasteboard::setContents(const Contents& contents)
{
    if (contents.isEmpty()) {
        clear();
        return;
    }
    auto* data = new RecordingMimeData(fetched_ = std::make_shared<bool>(false));
    bool hasImage = false;
    for (const auto& [format, bytes] : contents.formats) {
        data->setData(format, bytes);
        // Qt readers, this process included, look for an image object.
        if (!hasImage && format.startsWith(QLatin1String("image/"))) {
            QImage image;
            if (image.loadFromData(bytes)) {
                data->setImageData(image);
                hasImage = true;
            }
        }
    }
    install(data);
}

bool QtPasteboard::ourDataWasFetched() const
{
    return *fetched_;
}

void QtPasteboard::install(QMimeData* data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

} // namespace platform::linuxbackend

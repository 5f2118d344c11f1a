#include "ImageParts.h"

#include "gemini-client/ErrorTexts.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>

namespace gemini {

QString ImageConversionError::description() const
{
    switch (kind_) {
    case Kind::couldNotConvertToJPEG: return QString::fromUtf8(texts::imageNotJpeg).arg(object_);
    case Kind::invalidUnderlyingImage: return QString::fromUtf8(texts::imageInvalid);
    case Kind::couldNotAllocateDestination: return QString::fromUtf8(texts::imageNoEncoder);
    }
    return {};
}

namespace {

QString describe(const QImage& image)
{
    return QStringLiteral("QImage %1x%2").arg(image.width()).arg(image.height());
}

QByteArray jpegBytes(const QImage& image)
{
    if (!QImageWriter::supportedImageFormats().contains("jpeg"))
        throw ImageConversionError::couldNotAllocateDestination();
    if (image.isNull())
        throw ImageConversionError::couldNotConvertToJPEG(describe(image));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(kImageJpegQuality);
    if (!writer.write(image))
        throw ImageConversionError::couldNotConvertToJPEG(describe(image) + QStringLiteral(": ") + writer.errorString());
    return bytes;
}

} // namespace

QList<ContentPart> PartsConversion<QImage>::tryPartsValue(const QImage& image)
{
    return {ContentPart::jpeg(jpegBytes(image))};
}

QList<ContentPart> PartsConversion<QPixmap>::tryPartsValue(const QPixmap& pixmap)
{
    if (pixmap.isNull())
        throw ImageConversionError::invalidUnderlyingImage();
    return {ContentPart::jpeg(jpegBytes(pixmap.toImage()))};
}

} // namespace gemini

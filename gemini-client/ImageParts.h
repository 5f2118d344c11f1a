#pragma once

#include "gemini-client/Error.h"
#include "gemini-client/ModelContent.h"

#include <QString>

// Images given where parts are wanted become one "image/jpeg" data part,
// encoded at quality 0.8. QImage stands for a bitmap image, QPixmap for an
// image that must first yield a bitmap.
namespace gemini {

class ImageConversionError final : public ErrorBase<ImageConversionError> {
public:
    enum class Kind { couldNotConvertToJPEG, invalidUnderlyingImage, couldNotAllocateDestination };

    static ImageConversionError couldNotConvertToJPEG(QString object)
    {
        return ImageConversionError(Kind::couldNotConvertToJPEG, std::move(object));
    }
    static ImageConversionError invalidUnderlyingImage() { return ImageConversionError(Kind::invalidUnderlyingImage); }
    static ImageConversionError couldNotAllocateDestination()
    {
        return ImageConversionError(Kind::couldNotAllocateDestination);
    }

    Kind kind() const { return kind_; }
    // For couldNotConvertToJPEG: a description of the image whose encoding failed.
    const QString& object() const { return object_; }
    QString description() const override;

private:
    explicit ImageConversionError(Kind kind, QString object = {})
        : kind_(kind)
        , object_(std::move(object))
    {
    }

    Kind kind_;
    QString object_;
};

// The JPEG quality of image parts, on Qt's 0 to 100 scale.
inline constexpr int kImageJpegQuality = 80;

} // namespace gemini

#pragma once

#include "gemini-client/FunctionCalling.h"
#include "gemini-client/JSONCoding.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <optional>
#include <variant>

class QImage;
class QPixmap;

namespace gemini {

// One piece of a conversation turn.
class ContentPart {
public:
    struct InlineData {
        QString mimeType;
        QByteArray bytes;
        bool operator==(const InlineData&) const = default;
    };
    struct FileData {
        QString mimeType;
        QString uri;
        bool operator==(const FileData&) const = default;
    };
    // In the order of Kind.
    using Value = std::variant<QString, InlineData, FileData, FunctionCall, FunctionResponse, ExecutableCode,
                               CodeExecutionResult>;
    enum class Kind { text, data, fileData, functionCall, functionResponse, executableCode, codeExecutionResult };

    static ContentPart text(QString text) { return ContentPart(std::move(text)); }
    static ContentPart data(QString mimeType, QByteArray bytes)
    {
        return ContentPart(InlineData{std::move(mimeType), std::move(bytes)});
    }
    static ContentPart fileData(QString mimeType, QString uri)
    {
        return ContentPart(FileData{std::move(mimeType), std::move(uri)});
    }
    static ContentPart functionCall(FunctionCall call) { return ContentPart(std::move(call)); }
    static ContentPart functionResponse(FunctionResponse response) { return ContentPart(std::move(response)); }
    static ContentPart executableCode(ExecutableCode code) { return ContentPart(std::move(code)); }
    static ContentPart codeExecutionResult(CodeExecutionResult result) { return ContentPart(std::move(result)); }
    static ContentPart jpeg(QByteArray bytes) { return data(QStringLiteral("image/jpeg"), std::move(bytes)); }
    static ContentPart png(QByteArray bytes) { return data(QStringLiteral("image/png"), std::move(bytes)); }

    Kind kind() const { return Kind(value_.index()); }
    const Value& value() const { return value_; }
    // The string of a text part; nothing for every other kind.
    std::optional<QString> text() const;
    template <class T>
    const T* get() const
    {
        return std::get_if<T>(&value_);
    }

    bool operator==(const ContentPart&) const = default;

private:
    explicit ContentPart(Value value)
        : value_(std::move(value))
    {
    }

    Value value_;
};

// How a value becomes parts. Strings and lists of strings cannot fail;
// images can. Types without a specialisation are not parts.
template <class T>
struct PartsConversion {
};

template <>
struct PartsConversion<QString> {
    static constexpr bool canFail = false;
    static QList<ContentPart> tryPartsValue(const QString& text) { return {ContentPart::text(text)}; }
};

template <>
struct PartsConversion<const char*> {
    static constexpr bool canFail = false;
    static QList<ContentPart> tryPartsValue(const char* text) { return {ContentPart::text(QString::fromUtf8(text))}; }
};

template <std::size_t N>
struct PartsConversion<char[N]> : PartsConversion<const char*> {
};

template <>
struct PartsConversion<ContentPart> {
    static constexpr bool canFail = true;
    static QList<ContentPart> tryPartsValue(const ContentPart& part) { return {part}; }
};

// Turned into one "image/jpeg" part at quality 0.8 (see ImageParts.h).
template <>
struct PartsConversion<QImage> {
    static constexpr bool canFail = true;
    static QList<ContentPart> tryPartsValue(const QImage& image);
};

template <>
struct PartsConversion<QPixmap> {
    static constexpr bool canFail = true;
    static QList<ContentPart> tryPartsValue(const QPixmap& pixmap);
};

template <class T>
concept ThrowingPartsRepresentable = requires(const T& value) {
    { PartsConversion<T>::tryPartsValue(value) } -> std::same_as<QList<ContentPart>>;
};

template <class T>
concept PartsRepresentable = ThrowingPartsRepresentable<T> && !PartsConversion<T>::canFail;

// A list: the concatenation of every element's parts, in element order.
template <ThrowingPartsRepresentable T>
struct PartsConversion<QList<T>> {
    static constexpr bool canFail = PartsConversion<T>::canFail;
    static QList<ContentPart> tryPartsValue(const QList<T>& values)
    {
        QList<ContentPart> parts;
        for (const T& value : values)
            parts += PartsConversion<T>::tryPartsValue(value);
        return parts;
    }
};

template <ThrowingPartsRepresentable T>
QList<ContentPart> tryPartsValue(const T& value)
{
    return PartsConversion<T>::tryPartsValue(value);
}

template <PartsRepresentable T>
QList<ContentPart> partsValue(const T& value)
{
    return PartsConversion<T>::tryPartsValue(value);
}

// One turn of a conversation: an optional role and its parts in order.
class ModelContent {
public:
    using Part = ContentPart;

    ModelContent() = default;
    ModelContent(std::optional<QString> role, QList<Part> parts)
        : role_(std::move(role))
        , parts_(std::move(parts))
    {
    }
    // The values' parts in argument order; the first failing conversion
    // stops the rest and propagates.
    template <ThrowingPartsRepresentable... Ts>
    ModelContent(std::optional<QString> role, const Ts&... values)
        : role_(std::move(role))
    {
        (parts_.append(tryPartsValue(values)), ...);
    }

    const std::optional<QString>& role() const { return role_; }
    const QList<Part>& parts() const { return parts_; }

    bool operator==(const ModelContent&) const = default;

private:
    std::optional<QString> role_;
    QList<Part> parts_;
};

coding::OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart::InlineData& data);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart::FileData& data);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart& part);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const ModelContent& content);
ContentPart decodeValue(const coding::Decoder& decoder, coding::Tag<ContentPart>);
ModelContent decodeValue(const coding::Decoder& decoder, coding::Tag<ModelContent>);

} // namespace gemini

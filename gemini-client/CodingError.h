#pragma once

#include "gemini-client/Error.h"

#include <QList>
#include <QString>

namespace gemini {

// Where in a JSON document a coding step was: object keys and array indices
// from the root.
class CodingPath {
public:
    struct Element {
        QString key; // empty for an index
        qsizetype index = -1; // -1 for a key
        bool operator==(const Element&) const = default;
    };

    CodingPath() = default;
    CodingPath(std::initializer_list<QString> keys);

    void appendKey(QString key) { elements_.append({std::move(key), -1}); }
    void appendIndex(qsizetype index) { elements_.append({QString(), index}); }
    const QList<Element>& elements() const { return elements_; }
    bool isEmpty() const { return elements_.isEmpty(); }

    // "candidates[0].content.parts", or "" for the root.
    QString toString() const;

    bool operator==(const CodingPath&) const = default;

private:
    QList<Element> elements_;
};

// A value in an answer that does not have the form its type needs.
class DecodingError final : public ErrorBase<DecodingError> {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, CodingPath codingPath, QString debugDescription, QString underlying = {})
        : kind_(kind)
        , codingPath_(std::move(codingPath))
        , debugDescription_(std::move(debugDescription))
        , underlying_(std::move(underlying))
    {
    }

    Kind kind() const { return kind_; }
    const CodingPath& codingPath() const { return codingPath_; }
    const QString& debugDescription() const { return debugDescription_; }
    // What a lower layer (the JSON parser) reported, if anything.
    const QString& underlyingDescription() const { return underlying_; }

    QString description() const override;

private:
    Kind kind_;
    CodingPath codingPath_;
    QString debugDescription_;
    QString underlying_;
};

// A value of a request that has no JSON form (a NaN or an infinity).
class EncodingError final : public ErrorBase<EncodingError> {
public:
    EncodingError(CodingPath codingPath, QString debugDescription)
        : codingPath_(std::move(codingPath))
        , debugDescription_(std::move(debugDescription))
    {
    }

    const CodingPath& codingPath() const { return codingPath_; }
    const QString& debugDescription() const { return debugDescription_; }
    QString description() const override;

private:
    CodingPath codingPath_;
    QString debugDescription_;
};

// A candidate whose content could not be decoded.
class InvalidCandidateError final : public ErrorBase<InvalidCandidateError> {
public:
    enum class Kind { emptyContent, malformedContent };

    InvalidCandidateError(Kind kind, DecodingError underlyingError)
        : kind_(kind)
        , underlying_(std::move(underlyingError))
    {
    }

    Kind kind() const { return kind_; }
    const DecodingError& underlyingError() const { return underlying_; }
    QString description() const override;

private:
    Kind kind_;
    DecodingError underlying_;
};

} // namespace gemini

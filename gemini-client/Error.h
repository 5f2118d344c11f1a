#pragma once

#include <QString>

#include <exception>
#include <memory>
#include <string>

namespace gemini {

class Error;
using ErrorPtr = std::shared_ptr<const Error>;

// Base of every error the library throws. Errors are values: they can be
// copied into an ErrorPtr (to be carried inside another error or a stream)
// and thrown again with their own dynamic type.
class Error : public std::exception {
public:
    virtual QString description() const = 0;
    virtual ErrorPtr clone() const = 0;
    [[noreturn]] virtual void raise() const = 0;

    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

template <class Derived>
class ErrorBase : public Error {
public:
    ErrorPtr clone() const override { return std::make_shared<Derived>(static_cast<const Derived&>(*this)); }
    [[noreturn]] void raise() const override { throw static_cast<const Derived&>(*this); }
};

// A failure of the library itself, in the library's error domain with code -1.
class LibraryError final : public ErrorBase<LibraryError> {
public:
    static constexpr int code = -1;

    explicit LibraryError(QString description)
        : description_(std::move(description))
    {
    }

    static QString domain();
    QString description() const override { return description_; }

private:
    QString description_;
};

// A transport failure: no connection, a connection lost, a timeout. It is
// never an HTTP status; those arrive as answers.
class NetworkError final : public ErrorBase<NetworkError> {
public:
    enum class Kind { failed, timedOut, connectionLost };

    // `code` is the QNetworkReply::NetworkError the transport reported.
    NetworkError(Kind kind, int code, QString message)
        : kind_(kind)
        , code_(code)
        , message_(std::move(message))
    {
    }

    Kind kind() const { return kind_; }
    int code() const { return code_; }
    QString description() const override { return message_; }

private:
    Kind kind_;
    int code_;
    QString message_;
};

// Anything a caller's content producer threw that is not one of ours.
class ForeignError final : public ErrorBase<ForeignError> {
public:
    explicit ForeignError(QString description)
        : description_(std::move(description))
    {
    }
    QString description() const override { return description_; }

private:
    QString description_;
};

// The exception in flight (call inside a catch block) as an ErrorPtr.
ErrorPtr currentError();

// The error as the given type, or null.
template <class E>
const E* errorAs(const ErrorPtr& error)
{
    return dynamic_cast<const E*>(error.get());
}

} // namespace gemini

#pragma once

#include <QString>

#include <exception>
#include <string>

// An error the rewrite engine throws with a text for people: its long
// description goes to the log file, and roads derive what the user sees
// from its type.
class LocalizedError : public std::exception {
public:
    virtual QString errorDescription() const = 0;
    const char* what() const noexcept override
    {
        what_ = errorDescription().toStdString();
        return what_.c_str();
    }

private:
    mutable std::string what_;
};

// The text to log for any error caught by the roads.
QString localizedDescription(const std::exception_ptr& error);

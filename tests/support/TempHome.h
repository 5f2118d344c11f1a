#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// Points HOME and the XDG folders at a fresh temporary folder for the lifetime
// of the object, and restores the previous values afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return dir_.path(); }
    QString filePath(const QString& relative) const { return dir_.filePath(relative); }

private:
    QTemporaryDir dir_;
    QHash<QByteArray, std::optional<QByteArray>> saved_;
};

#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// The other applications on the desktop, as far as the rewrite engine and its
// panels need them. Main thread only.
class Workspace {
public:
    // The window that has the keyboard focus and what owns it.
    struct FrontApplication {
        quint64 window = 0;
        // 0 when the window does not say.
        qint64 pid = 0;
        // The class part of WM_CLASS, for example "XTerm".
        QString windowClass;
        QString instanceName;
        friend bool operator==(const FrontApplication&, const FrontApplication&) = default;
    };

    virtual ~Workspace() = default;

    virtual std::optional<FrontApplication> frontmostApplication() const = 0;
    // Gives the window the focus again; false when the request could not be made.
    virtual bool activate(const FrontApplication& application) = 0;
};

} // namespace platform

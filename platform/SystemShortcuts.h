#pragma once

#include <QList>
#include <QtGlobal>

namespace platform {

// Key combinations that the desktop or another program has reserved for
// itself, in the stored form of shortcuts (virtual key code and Carbon
// modifier bits, see HotKeyBackend.h).
class SystemShortcuts {
public:
    struct Combination {
        qint64 keyCode = 0;
        qint64 carbonModifiers = 0;
        friend bool operator==(const Combination&, const Combination&) = default;
    };

    virtual ~SystemShortcuts() = default;

    // The candidates, in their order, that are reserved by someone other than
    // this program. An answer that cannot be had is an empty list.
    virtual QList<Combination> reserved(const QList<Combination>& candidates) = 0;
};

} // namespace platform

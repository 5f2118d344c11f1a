#pragma once

#include <QAccessibleWidget>

class InlineStatus;

// A status row as assistive technologies see it: a status bar whose name is
// the text the row shows. The row itself sends the name change, so a screen
// reader learns of a new status without moving there.
class AccessibleInlineStatus : public QAccessibleWidget {
public:
    explicit AccessibleInlineStatus(InlineStatus* status);

    QString text(QAccessible::Text t) const override;
};

#include "Vellox/app/AccessibleInlineStatus.h"

#include "Vellox/app/InlineStatus.h"

AccessibleInlineStatus::AccessibleInlineStatus(InlineStatus* status)
    : QAccessibleWidget(status, QAccessible::StatusBar)
{
}

QString AccessibleInlineStatus::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name)
        return static_cast<const InlineStatus*>(widget())->text();
    return QAccessibleWidget::text(t);
}

#include "Vellox/app/ShellAccessibility.h"

#include "Vellox/app/AccessibleInlineStatus.h"
#include "Vellox/app/InlineStatus.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace ShellAccessibility {

namespace {

// Qt asks with each class name of the object's chain, most derived first.
QAccessibleInterface* shellInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("InlineStatus"))
        return new AccessibleInlineStatus(static_cast<InlineStatus*>(object));
    // Top-level windows of their own, which Qt would call plain clients.
    if (className == QLatin1String("SettingsWindow") || className == QLatin1String("OnboardingWindow"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(shellInterface);
        return true;
    }();
    (void)installed;
}

} // namespace ShellAccessibility

#include "Vellox/app/PostOnboardingHint.h"

#include "Vellox/app/RephraseShortcut.h"
#include "Vellox/rewrite/RewriteSurfaces.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

namespace PostOnboardingHint {

void presentIfNeeded()
{
    auto defaults = platform::Platform::current().defaults;
    if (!defaults || defaults->value(QString::fromLatin1(kShownKey)).toBool())
        return;
    // Marked before showing, so a second finish never repeats it.
    defaults->setValue(QString::fromLatin1(kShownKey), true);
    RewriteFeedbackMessage message;
    message.text = QStringLiteral("Try it: select text, then press ") + RephraseShortcut::displayText();
    message.level = RewriteFeedbackMessage::Level::info;
    RewriteSurfaces::current().presentNotice(message, kSeconds);
}

} // namespace PostOnboardingHint

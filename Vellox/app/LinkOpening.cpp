#include "Vellox/app/LinkOpening.h"

#include "Vellox/settings/VelloxLog.h"
#include "platform/Opener.h"
#include "platform/Platform.h"

#include <QMessageBox>

namespace LinkOpening {

QString failureText(const QUrl& url)
{
    if (url.isLocalFile())
        return QStringLiteral("Vellox couldn't open the file, because no program is set up to open it (xdg-open "
                              "from xdg-utils is missing or failed). Open it yourself:\n\n")
            + url.toLocalFile();
    return QStringLiteral("Vellox couldn't open the link, because no program is set up to open it (xdg-open from "
                          "xdg-utils is missing or failed). Open it in your browser:\n\n")
        + url.toString();
}

void open(const QUrl& url)
{
    const auto opener = platform::Platform::current().opener;
    if (opener && opener->openUrl(url))
        return;
    VelloxLog::ui().error(QStringLiteral("No program opened %1").arg(url.toString()));
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Couldn't open"), failureText(url), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("openFailedNotice"));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace LinkOpening

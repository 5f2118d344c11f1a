#include "Vellox/app/TrayNoticeWindow.h"

#include <QScreen>

TrayNoticeWindow::TrayNoticeWindow(const QString& title, const QString& text)
    : QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok)
{
    setObjectName(QStringLiteral("trayAbsenceNotice"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    setModal(false);
}

void TrayNoticeWindow::showEvent(QShowEvent* event)
{
    // The message box takes its final size here, before the window is mapped,
    // so the corner is reached without a visible move.
    QMessageBox::showEvent(event);
    if (QScreen* shown = screen()) {
        const QRect area = shown->availableGeometry();
        move(area.right() + 1 - kCornerMargin - frameGeometry().width(),
             area.bottom() + 1 - kCornerMargin - frameGeometry().height());
    }
}

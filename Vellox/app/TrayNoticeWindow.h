#pragma once

#include <QMessageBox>

// The window that says there is no tray, where no desktop notification can.
// The user did not ask for it: it never takes the keyboard from the window
// the user types in, neither when it appears nor when clicked, and it stands
// in the bottom right corner of the screen, away from where windows open.
class TrayNoticeWindow : public QMessageBox {
    Q_OBJECT
public:
    static constexpr int kCornerMargin = 24;

    TrayNoticeWindow(const QString& title, const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
};

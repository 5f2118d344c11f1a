#include "MessageBoxAlerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform::linuxbackend {

int MessageBoxAlerts::ask(const Question& question, QWidget* window)
{
    QMessageBox box(window ? window->window() : nullptr);
    box.setIcon(QMessageBox::Warning);
    box.setText(question.title);
    if (question.informativeText)
        box.setInformativeText(*question.informativeText);
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    QList<QAbstractButton*> buttons;
    if (question.buttons.isEmpty()) {
        buttons.append(box.addButton(QMessageBox::Ok));
    } else {
        for (qsizetype i = 0; i < question.buttons.size(); ++i)
            buttons.append(box.addButton(question.buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.first());
    box.exec();
    const qsizetype index = buttons.indexOf(box.clickedButton());
    return index < 0 ? dismissed : int(index);
}

} // namespace platform::linuxbackend

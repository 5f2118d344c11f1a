#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// One group of a grouped form: a heading, a rounded card holding rows with
// hairlines between them, and an optional footer note.
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& header, QWidget* parent = nullptr);

    // Adds a row to the card; hidden rows take no space and no hairline.
    void addRow(QWidget* row);
    void setFooter(const QString& footer);
    QLabel* footer() const { return footer_; }

    // A row of a label on the leading side and a control on the trailing side.
    static QWidget* labelledRow(const QString& label, QWidget* control);

private:
    class Card;
    Card* card_;
    QVBoxLayout* rows_;
    QLabel* footer_ = nullptr;
};

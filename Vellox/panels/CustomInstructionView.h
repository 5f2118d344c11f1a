#pragma once

#include <QSize>
#include <QWidget>

class QLineEdit;

// The instruction panel's card: the question "What should change?" over one
// text field that holds the draft of the instruction.
class CustomInstructionView : public QWidget {
    Q_OBJECT
public:
    static constexpr int layoutWidth = 300;

    explicit CustomInstructionView(QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    QString draft() const;
    // The size the content wants at the layout width.
    QSize fittingSize() const;
    // Gives the field the caret now and once more on the next turn, when the
    // window has surely taken the keyboard.
    void focusField();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int contentTop() const;
    int headerHeight() const;
    int fieldHeight() const;

    QLineEdit* field_;
};

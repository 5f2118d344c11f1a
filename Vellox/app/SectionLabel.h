#pragma once

#include <QWidget>

// A small heading over a group of rows: the text in capitals, 10 px
// semibold, slightly tracked, in the secondary text colour.
class SectionLabel : public QWidget {
    Q_OBJECT
public:
    explicit SectionLabel(QString text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    // What is drawn: the text in upper case.
    QString displayedText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};
